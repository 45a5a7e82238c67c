#include "document/document.h"

#include <algorithm>
#include <vector>

#include "common/failure.h"
#include "document/xml_body.h"
#include "log/log.h"

namespace brimlet {

namespace {

constexpr std::string_view kFunction = "FncCreateXMLString";

struct Columns {
    std::size_t type, name, filepath, md5Value, state, agentVersion, binaryVersion, description,
        dependencyChk, isRegRequired;
};

std::string_view Text(const db::RecordSet& rs, std::size_t column) {
    return rs.Field(column).value_or(std::string_view());
}

ComponentRow ReadRow(const db::RecordSet& rs, const Columns& c) {
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
    row.isRegRequired = rs.FieldBool(c.isRegRequired);
    return row;
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
        step = 40;
        command.SetCommandType(db::kCmdStoredProc);
        step = 50;
        command.SetCommandText("USP_AgentComponent_Details");
        step = 60;
        command.SetCommandTimeout(db::SecondsFromText(ctx.cmdTimeoutSec));
        step = 70;
        command.AppendParameter("@InOSType", db::ParamType::VarChar, db::ParamDirection::Input, 50,
                                ctx.osType);
        step = 80;
        command.AppendParameter("@InAgentType", db::ParamType::VarChar, db::ParamDirection::Input,
                                10, ctx.agentType);
        step = 90;
        db::RecordSet rs = command.Execute();

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

        // In database order: the keys, the entries for unusable types, the body's size.
        step = 160;
        std::vector<std::string> keys;
        keys.reserve(rs.RowCount());
        std::size_t size = 0;
        for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
            const ComponentRow row = ReadRow(rs, c);
            keys.push_back(TypeKey(row.type));
            if (!IsXmlElementName(keys.back())) {
                WriteLog(ctx.log, "modMain", kFunction, "ERR", "-1",
                         "Component type is not a valid XML name, row left out (Type \"" +
                             std::string(row.type) + "\", Name \"" + std::string(row.name) + "\")",
                         "160");
                continue;
            }
            size += XmlBodyWriter::RowSizeHint(row, keys.back());
        }
        step = 140;
        rs.SortByKeys(keys);
        // A stable sort of the rows by these keys leaves the keys themselves in sorted order.
        std::sort(keys.begin(), keys.end());

        XmlBodyWriter writer;
        writer.Reserve(size);
        std::size_t index = 0;
        for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext(), ++index) {
            step = 160;
            const std::string& key = keys[index];
            if (!IsXmlElementName(key)) {
                continue;
            }
            const ComponentRow row = ReadRow(rs, c);
            step = 350;
            writer.Add(row, key);
            step = 360;
        }
        step = 380;
        std::string body = writer.Finish();
        step = 430;
        rs.Close();
        step = 410;
        outcome.status = body.empty() ? BodyStatus::Failed : BodyStatus::Rows;
        outcome.body = std::move(body);
    } catch (...) {
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
        outcome = BodyOutcome{};
    }
    return outcome;
}

std::string FncCreateXMLString(RunContext& ctx) noexcept {
    return CreateXmlBody(ctx).body;
}

void SubCreateBrimletXML(RunContext& ctx) noexcept {
    PublishDocument(ctx, CreateXmlBody, DocumentCipher());
}

}  // namespace brimlet
