#pragma once
// A body built whole beforehand, published as the query's body would be.
#include <string_view>

#include "run/publisher.h"

class HeldBody final : public brimlet::DocumentBody {
  public:
    explicit HeldBody(std::string_view text) : m_text(text) {}
    brimlet::BodyStatus Status() const override { return brimlet::BodyStatus::Rows; }
    void WriteTo(const brimlet::TextSink& sink, const brimlet::SinkSettle& /*settle*/) override {
        sink(m_text);
    }

  private:
    std::string_view m_text;  // the caller's, which outlives the publication
};
