#pragma once
// FncCreateXMLString: the component query and the grouped body written from its rows.
#include <array>
#include <cstddef>

#include "db/odbc.h"
#include "run/document.h"
#include "run/run_context.h"
#include "xml/xml_body.h"

namespace brimlet {

// The query's outcome; with rows, it owns them, their columns and their plan until written.
class ComponentBody final : public DocumentBody {
  public:
    explicit ComponentBody(RunContext& ctx) : m_ctx(&ctx) {}
    BodyStatus Status() const override { return m_status; }
    // Bytes the body takes at most, escaping aside (for reserving).
    std::size_t SizeHint() const { return m_sizeHint; }
    // Streams the body into `sink` in pieces of about 4 MiB and closes the rows. Exceptions of
    // the sink and of `settle` pass through unchanged; its own failures are logged under
    // FncCreateXMLString and end in BodyAbandoned.
    void WriteTo(const TextSink& sink, const SinkSettle& settle) override;

  private:
    friend ComponentBody CreateXmlBody(RunContext& ctx) noexcept;

    RunContext* m_ctx;
    BodyStatus m_status = BodyStatus::Failed;
    db::RecordSet m_rows;
    std::array<std::size_t, 10> m_columns{};  // one per column a row is read from
    BodyPlan m_plan;
    std::size_t m_sizeHint = 0;
};

// Runs "USP_AgentComponent_Details" for ctx.osType and ctx.agentType on the open
// ctx.connection and plans the grouped body. Rows with a type that cannot name an element
// are left out, the first 20 with an "ERR" entry each, the others counted in one more; when
// that leaves no row, the status is NoUsableRows. Failures end in the procedure's error entry
// and status Failed. Never throws.
ComponentBody CreateXmlBody(RunContext& ctx) noexcept;

}  // namespace brimlet
