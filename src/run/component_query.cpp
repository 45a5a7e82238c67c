#include "run/component_query.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "common/text.h"
#include "log/log.h"
#include "run/run_watchdog.h"
#include "xml/xml_body.h"

namespace brimlet {

namespace {

constexpr std::string_view kFunction = "FncCreateXMLString";
// The body goes to the encryption in pieces of about this size, so it is never held whole.
constexpr std::size_t kStreamBytes = std::size_t{4} * 1024 * 1024;
// Rows left out that get an entry of their own; the rest are counted in one entry.
constexpr std::size_t kLeftOutEntries = 20;

struct Columns {
    std::size_t type, name, filepath, md5Value, state, agentVersion, binaryVersion, description,
        dependencyChk, isRegRequired;
};

std::string_view Text(const db::RecordSet& rs, std::size_t column) {
    return rs.Field(column).value_or(std::string_view());
}

// The drivers deliver booleans as "1" or "0"; anything else takes the general reading.
bool ReadBool(const db::RecordSet& rs, std::size_t column) {
    const std::optional<std::string_view> value = rs.Field(column);
    if (value && value->size() == 1 && ((*value)[0] == '0' || (*value)[0] == '1')) {
        return (*value)[0] == '1';
    }
    return rs.FieldBool(column);
}

// The text columns of the current row; isRegRequired is left false.
ComponentRow ReadTexts(const db::RecordSet& rs, const Columns& c) {
    ComponentRow row;
    row.type = Text(rs, c.type);
    row.name = Text(rs, c.name);
    row.filepath = Text(rs, c.filepath);
    row.md5Value = Text(rs, c.md5Value);
    row.state = Text(rs, c.state);
    row.agentVersion = Text(rs, c.agentVersion);
    row.binaryVersion = Text(rs, c.binaryVersion);
    row.description = Text(rs, c.description);
    row.dependencyChk = Text(rs, c.dependencyChk);
    return row;
}

// The fetched rows in body order, kept until the body has been written from them.
struct SortedRows {
    db::RecordSet rs;
    Columns columns{};
    BodyPlan plan;
    bool written = false;
};

// Calls `visit(key)` on each row of the body, the set positioned on it; the set holds the
// plan's rows in its order.
template <typename Visit>
void ForEachUsableRow(db::RecordSet& rs, const BodyPlan& plan, Visit&& visit) {
    rs.MoveFirst();
    ForEachBodyRow(plan, [&](std::size_t, const std::string& key) {
        visit(key);
        rs.MoveNext();
    });
}

void WriteBody(RunContext& ctx, SortedRows& rows, const TextSink& sink) {
    int step = 160;
    bool sinkFailed = false;
    try {
        if (rows.written) {
            throw Failure(kErrInternal, "The body was already written");
        }
        rows.written = true;
        XmlBodyWriter writer;
        writer.Reserve(kStreamBytes + kStreamBytes / 4);
        writer.StreamTo(
            [&](std::string_view piece) {
                try {
                    sink(piece);
                } catch (...) {
                    sinkFailed = true;
                    throw;
                }
            },
            kStreamBytes);
        ForEachUsableRow(rows.rs, rows.plan, [&](const std::string& key) {
            step = 160;
            ComponentRow row = ReadTexts(rows.rs, rows.columns);
            step = 270;
            row.isRegRequired = ReadBool(rows.rs, rows.columns.isRegRequired);
            step = 350;
            writer.Add(row, key);
            step = 360;
        });
        step = 380;
        writer.Finish();
        step = 430;
        rows.rs.Close();
    } catch (...) {
        if (sinkFailed) {
            throw;
        }
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
        throw BodyAbandoned();
    }
}

}  // namespace

BodyOutcome CreateXmlBody(RunContext& ctx) noexcept {
    int step = 10;
    BodyOutcome outcome;
    try {
        WriteLog(ctx.log, "modMain", kFunction, "MSG", "Creating File type wise xml string...", "",
                 "");
        step = 20;
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
        command.AppendParameter("@InAgentType", db::ParamType::VarChar, db::ParamDirection::Input,
                                10, ctx.agentType);
        step = 90;
        const std::int32_t timeout = ctx.cmdTimeoutSec.Seconds();
        db::RecordSet rs = [&] {
            // Without a time-out only a stop signal ends the query early.
            const RunWatchdog::Step watch =
                timeout > 0 ? ctx.watchdog.Arm(ctx.log, kFunction, step, timeout,
                                               db::CommandTimeoutText(timeout))
                            : ctx.watchdog.ArmForStop(ctx.log, kFunction, step);
            return command.Execute();
        }();

        step = 120;
        if (!rs.IsOpen()) {
            // Closing a set that came back closed fails; that failure is the entry logged.
            step = 430;
            rs.Close();
            return outcome;
        }
        step = 130;
        if (rs.Bof() && rs.Eof()) {
            step = 430;
            rs.Close();
            outcome.status = BodyStatus::NoRows;
            return outcome;
        }

        // The sort needs the type keys, so the Type column is looked up as part of it.
        step = 140;
        Columns c{};
        c.type = rs.ColumnIndex("Type");
        step = 170;
        c.name = rs.ColumnIndex("Name");
        step = 180;
        c.filepath = rs.ColumnIndex("filepath");
        step = 190;
        c.md5Value = rs.ColumnIndex("MD5Value");
        step = 200;
        c.state = rs.ColumnIndex("State");
        step = 210;
        c.agentVersion = rs.ColumnIndex("AgentVersion");
        step = 220;
        c.binaryVersion = rs.ColumnIndex("BinaryVersion");
        step = 250;
        c.description = rs.ColumnIndex("Description");
        step = 260;
        c.dependencyChk = rs.ColumnIndex("dependencychk");
        step = 270;
        c.isRegRequired = rs.ColumnIndex("IsRegRequired");

        // The grouping needs the type texts of all rows, in database order.
        step = 160;
        std::vector<std::string_view> types;
        types.reserve(rs.RowCount());
        for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
            types.push_back(Text(rs, c.type));
        }
        BodyPlan plan = PlanBody(types);
        std::vector<std::string_view>().swap(types);
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
            const ComponentRow row = ReadTexts(rs, c);
            WriteLog(ctx.log, "modMain", kFunction, "ERR", "-1",
                     "Component type is not a valid XML name, row left out (Type \"" +
                         VisibleControls(row.type) + "\", Name \"" + std::string(row.name) + "\")",
                     "160");
        }
        if (plan.leftOut.size() > kLeftOutEntries) {
            WriteLog(ctx.log, "modMain", kFunction, "ERR", "-1",
                     std::to_string(plan.leftOut.size() - kLeftOutEntries) +
                         " further rows with a type that is not a valid XML name left out",
                     "160");
        }
        step = 140;
        rs.KeepRows(plan.order);

        // The one value whose reading can fail is checked on every row before anything is
        // published, so such a row still fails the query instead of a half-written document.
        step = 270;
        std::size_t size = 0;
        ForEachUsableRow(rs, plan, [&](const std::string& key) {
            ReadBool(rs, c.isRegRequired);
            size += XmlBodyWriter::RowSizeHint(ReadTexts(rs, c), key);
        });
        if (plan.order.empty()) {
            step = 430;
            rs.Close();
            outcome.status = BodyStatus::NoUsableRows;
            return outcome;
        }
        step = 410;
        auto rows = std::make_shared<SortedRows>();
        rows->rs = std::move(rs);
        rows->columns = c;
        rows->plan = std::move(plan);
        outcome.writeBody = [&ctx, rows](const TextSink& sink) { WriteBody(ctx, *rows, sink); };
        outcome.bodyBytes = size;
        outcome.status = BodyStatus::Rows;
    } catch (...) {
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
        outcome = BodyOutcome{};
    }
    return outcome;
}

void SubCreateBrimletXML(RunContext& ctx) noexcept {
    PublishDocument(ctx, CreateXmlBody, DocumentCipher());
}

}  // namespace brimlet
