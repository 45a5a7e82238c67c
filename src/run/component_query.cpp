#include "run/component_query.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "common/code_page.h"
#include "common/failure.h"
#include "common/text.h"
#include "log/log.h"
#include "process/run_watchdog.h"

namespace brimlet {

namespace {

constexpr std::string_view kFunction = "FncCreateXMLString";
// The body goes to the encryption in pieces of about this size, so it is never held whole.
constexpr std::size_t kStreamBytes = std::size_t{4} * 1024 * 1024;
// Rows left out that get an entry of their own; the rest are counted in one entry.
constexpr std::size_t kLeftOutEntries = 20;

// A column rows are read from, the step its lookup fails at and the text it fills (not the flag).
struct ColumnSpec {
    std::string_view name;
    int step;
    std::string_view ComponentRow::*text;
};

constexpr std::array<ColumnSpec, 10> kColumns{{
    {"Type", 140, &ComponentRow::type},
    {"Name", 170, &ComponentRow::name},
    {"filepath", 180, &ComponentRow::filepath},
    {"MD5Value", 190, &ComponentRow::md5Value},
    {"State", 200, &ComponentRow::state},
    {"AgentVersion", 210, &ComponentRow::agentVersion},
    {"BinaryVersion", 220, &ComponentRow::binaryVersion},
    {"Description", 250, &ComponentRow::description},
    {"dependencychk", 260, &ComponentRow::dependencyChk},
    {"IsRegRequired", 270, nullptr},
}};
constexpr std::size_t kTypeColumn = 0;
constexpr std::size_t kFlagColumn = 9;

using Columns = std::array<std::size_t, kColumns.size()>;

// The drivers deliver booleans as "1" or "0"; anything else takes the general reading.
bool ReadBool(const db::RecordSet& rs, std::size_t column) {
    const std::optional<std::string_view> value = rs.Field(column);
    if (value && value->size() == 1 && ((*value)[0] == '0' || (*value)[0] == '1')) {
        return (*value)[0] == '1';
    }
    return rs.FieldBool(column);
}

// The text columns of the current row; isRegRequired is left false.
ComponentRow ReadTexts(const db::RecordSet& rs, const Columns& columns) {
    ComponentRow row;
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        if (kColumns[i].text != nullptr) {
            row.*kColumns[i].text = rs.Field(columns[i]).value_or(std::string_view());
        }
    }
    return row;
}

db::RecordSet ExecuteQuery(RunContext& ctx, int& step) {
    db::Command command;
    step = 30;
    if (!ctx.connection) {
        throw Failure(kErrInternal, "No database connection");
    }
    command.SetActiveConnection(*ctx.connection);
    step = 50;
    command.SetCommandText("USP_AgentComponent_Details");
    step = 60;
    command.SetCommandTimeout(ctx.cmdTimeoutSec.Seconds());
    step = 70;
    command.AppendParameter("@InOSType", db::ParamType::VarChar, db::ParamDirection::Input, 50,
                            ctx.osType);
    step = 80;
    command.AppendParameter("@InAgentType", db::ParamType::VarChar, db::ParamDirection::Input, 10,
                            ctx.agentType);
    step = 90;
    const std::int32_t timeout = ctx.cmdTimeoutSec.Seconds();
    // Without a time-out only a stop signal ends the query early.
    const RunWatchdog::Step watch =
        timeout > 0
            ? ctx.watchdog.Arm(ctx.log, kFunction, step, timeout, db::CommandTimeoutText(timeout))
            : ctx.watchdog.ArmForStop(ctx.log, kFunction, step);
    return command.Execute();
}

Columns LookUpColumns(const db::RecordSet& rs, int& step) {
    Columns columns{};
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        step = kColumns[i].step;
        columns[i] = rs.ColumnIndex(kColumns[i].name);
    }
    return columns;
}

// The grouping needs the type texts of all rows, in database order.
BodyPlan PlanRows(db::RecordSet& rs, const Columns& columns) {
    std::vector<std::string_view> types;
    types.reserve(rs.RowCount());
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
        types.push_back(rs.Field(columns[kTypeColumn]).value_or(std::string_view()));
    }
    return PlanBody(types);
}

// Counts the plan into the run's figures and logs the rows it leaves out.
void ReportPlan(RunContext& ctx, db::RecordSet& rs, const Columns& columns, const BodyPlan& plan) {
    ctx.rowsLeftOut += plan.leftOut.size();
    ctx.bodyRows += plan.order.size();
    ctx.bodyGroups += plan.groups.size();
    const std::size_t entries = std::min(plan.leftOut.size(), kLeftOutEntries);
    std::size_t position = 0;
    rs.MoveFirst();
    for (std::size_t k = 0; k < entries; ++k) {
        for (; position < plan.leftOut[k]; ++position) {
            rs.MoveNext();
        }
        const ComponentRow row = ReadTexts(rs, columns);
        // The database's text in the log's code page.
        WriteLog(ctx.log, "modMain", kFunction, "ERR", "-1",
                 "Component type is not a valid XML name, row left out (Type \"" +
                     VisibleControls(AnsiFromUtf8(row.type)) + "\", Name \"" +
                     AnsiFromUtf8(row.name) + "\")",
                 "160");
    }
    if (plan.leftOut.size() > kLeftOutEntries) {
        WriteLog(ctx.log, "modMain", kFunction, "ERR", "-1",
                 std::to_string(plan.leftOut.size() - kLeftOutEntries) +
                     " further rows with a type that is not a valid XML name left out",
                 "160");
    }
}

// The one value whose reading can fail is read on every row before anything is published, so
// such a row fails the query, not a half-written document. Returns the body's size hint.
std::size_t CheckRows(db::RecordSet& rs, const Columns& columns, const BodyPlan& plan) {
    std::size_t size = 0;
    rs.MoveFirst();
    ForEachBodyRow(plan, [&](std::size_t, const std::string& key) {
        ReadBool(rs, columns[kFlagColumn]);
        size += XmlBodyWriter::RowSizeHint(ReadTexts(rs, columns), key);
        rs.MoveNext();
    });
    return size;
}

// Carries an exception of the sink past the body's own error entry.
struct SinkFailure {
    std::exception_ptr cause;
};

}  // namespace

ComponentBody CreateXmlBody(RunContext& ctx) noexcept {
    ComponentBody body(ctx);
    int step = 10;
    try {
        WriteLog(ctx.log, "modMain", kFunction, "MSG", "Creating File type wise xml string...", "",
                 "");
        step = 20;
        db::RecordSet rs = ExecuteQuery(ctx, step);
        step = 120;
        if (rs.IsOpen()) {
            step = 130;
            body.m_status = rs.Bof() && rs.Eof() ? BodyStatus::NoRows : BodyStatus::Rows;
        }
        if (body.m_status == BodyStatus::Rows) {
            // The sort needs the type keys, so the Type column is looked up as part of it.
            step = 140;
            body.m_columns = LookUpColumns(rs, step);
            step = 160;
            body.m_plan = PlanRows(rs, body.m_columns);
            ReportPlan(ctx, rs, body.m_columns, body.m_plan);
            step = 140;
            rs.KeepRows(body.m_plan.order);
            step = 270;
            body.m_sizeHint = CheckRows(rs, body.m_columns, body.m_plan);
            if (body.m_plan.order.empty()) {
                body.m_status = BodyStatus::NoUsableRows;
            }
        }
        if (body.m_status != BodyStatus::Rows) {
            // Closing a set that came back closed fails; that failure is the entry logged.
            step = 430;
            rs.Close();
            return body;
        }
        step = 410;
        body.m_rows = std::move(rs);
    } catch (...) {
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
        body = ComponentBody(ctx);
    }
    return body;
}

void ComponentBody::WriteTo(const TextSink& sink, const SinkSettle& settle) {
    int step = 160;
    try {
        XmlBodyWriter writer;
        writer.Reserve(kStreamBytes + kStreamBytes / 4);
        writer.StreamTo(
            [&sink](std::string_view piece) {
                try {
                    sink(piece);
                } catch (...) {
                    throw SinkFailure{std::current_exception()};
                }
            },
            kStreamBytes);
        m_rows.MoveFirst();
        for (const BodyGroup& group : m_plan.groups) {
            for (std::size_t k = 0; k < group.rows; ++k) {
                step = 160;
                ComponentRow row = ReadTexts(m_rows, m_columns);
                step = 270;
                row.isRegRequired = ReadBool(m_rows, m_columns[kFlagColumn]);
                step = 350;
                writer.Add(row, group.key);
                step = 360;
                m_rows.MoveNext();
            }
        }
        step = 380;
        writer.Finish();
        step = 430;
        m_rows.Close();
    } catch (const SinkFailure& failure) {
        std::rethrow_exception(failure.cause);
    } catch (...) {
        // A failure of the pieces already handed over came first and is the one reported.
        settle();
        WriteErrorEntry(m_ctx->log, kFunction, CurrentFailure(), step);
        throw BodyAbandoned();
    }
}

}  // namespace brimlet
