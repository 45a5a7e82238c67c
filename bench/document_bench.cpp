// Times body, document, encryption and writing for N in-memory rows of realistic lengths.
// Usage: brimlet_document_bench ROWS OUTPUT_DIR
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "held_body.h"
#include "run/publisher.h"
#include "xml/xml_body.h"

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ROWS OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::size_t count = std::strtoul(argv[1], nullptr, 10);
    const std::vector<std::string> types = {"DLL", " exe", "sys ", "Ini", "drv", "cfg"};
    // Owned texts, as the fetched result set holds them.
    std::vector<std::string> texts;
    texts.reserve(count * 5);
    std::vector<brimlet::ComponentRow> rows(count);
    char buf[128];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "component_%07zu.dll", i);
        texts.emplace_back(buf);
        std::snprintf(buf, sizeof buf, "/opt/kem/agent/bin/component_%07zu.dll", i);
        texts.emplace_back(buf);
        std::snprintf(buf, sizeof buf, "%016zx%016zx", i * 2654435761u, i ^ 0x5bd1e995u);
        texts.emplace_back(buf);
        std::snprintf(buf, sizeof buf, "Component %zu of the agent: driver & helper <core>", i);
        texts.emplace_back(buf);
        std::snprintf(buf, sizeof buf, "requires=component_%07zu.dll", i / 2);
        texts.emplace_back(buf);
        const std::size_t t = texts.size() - 5;
        rows[i] = brimlet::ComponentRow{types[i % types.size()],
                                        texts[t],
                                        texts[t + 1],
                                        texts[t + 2],
                                        "A",
                                        "10.2.3.4",
                                        "1.0.0.17",
                                        texts[t + 3],
                                        texts[t + 4],
                                        i % 3 == 0};
    }

    auto start = std::chrono::steady_clock::now();
    std::vector<std::string_view> typeTexts;
    typeTexts.reserve(rows.size());
    for (const brimlet::ComponentRow& row : rows) {
        typeTexts.push_back(row.type);
    }
    const brimlet::BodyPlan plan = brimlet::PlanBody(typeTexts);
    brimlet::XmlBodyWriter writer;
    std::size_t size = 0;
    brimlet::ForEachBodyRow(plan, [&](std::size_t i, const std::string& key) {
        size += brimlet::XmlBodyWriter::RowSizeHint(rows[i], key);
    });
    writer.Reserve(size);
    brimlet::ForEachBodyRow(
        plan, [&](std::size_t i, const std::string& key) { writer.Add(rows[i], key); });
    std::string body = writer.Finish();
    const double bodySeconds = Since(start);
    const std::size_t bodyBytes = body.size();

    brimlet::RunContext ctx;
    ctx.agentType = "A";
    ctx.osType = "B";
    ctx.purl = "https://downloads.example.invalid/agent/primary";
    ctx.surl = "https://mirror.example.invalid/agent/secondary";
    ctx.xmlPath = std::string(argv[2]) + "/Brimlet_A_B.xml";
    ctx.publication = std::make_shared<brimlet::Publication>(ctx.xmlPath);
    start = std::chrono::steady_clock::now();
    HeldBody held(body);
    brimlet::PublishDocument(ctx, held, brimlet::DocumentCipher());
    const double publishSeconds = Since(start);

    std::printf(
        "rows %zu body %zu bytes: body %.3f s, document+encrypt+write %.3f s, total "
        "%.3f s, published %d\n",
        count, bodyBytes, bodySeconds, publishSeconds, bodySeconds + publishSeconds,
        ctx.published ? 1 : 0);
    return ctx.published ? 0 : 1;
}
