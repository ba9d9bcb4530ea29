// One RMAP command's JSON Lines record, as -json writes it for every command:
// built with the program's writer, and with the nlohmann JSON library (when
// installed) for comparison.  A stream run costs about 4 to 5 us a command.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "common/json_line.h"
#ifdef ZARK_HAVE_NLOHMANN_JSON
#include <nlohmann/json.hpp>
#endif

namespace {

const std::vector<std::uint8_t> kAddress{0xfe};
const std::vector<std::uint8_t> kReturn{0x20};
const std::vector<std::uint8_t> kData{0x10, 0x20, 0x30, 0x40};

void BM_JsonLineRecord(benchmark::State &state)
{
    JsonLine line;
    std::int64_t tid = 0;
    for (auto _ : state) {
        line.Begin();
        line.Number("command", tid);
        line.Text("kind", "read");
        line.Time("handed_at", 1796588068645843);
        line.Time("collected_at", 1796588068645903);
        line.Object("sent");
        line.Number("target_logical_address", std::int64_t{254});
        line.Number("initiator_logical_address", std::int64_t{32});
        line.Hex("destination_address", kAddress);
        line.Hex("source_address", kReturn);
        line.Number("key", std::int64_t{0});
        line.Number("transaction_identifier", ++tid);
        line.Number("extended_address", std::int64_t{0});
        line.Number("address", std::int64_t{8192});
        line.Number("data_length", std::int64_t{4});
        line.Boolean("verify", false);
        line.Boolean("acknowledge", true);
        line.Boolean("increment", true);
        line.End();
        line.Text("outcome", "reply");
        line.Object("reply");
        line.Number("status", std::int64_t{0});
        line.Text("status_text", "success");
        line.Number("transaction_identifier", tid);
        line.Hex("data", kData);
        line.Boolean("matches_command", true);
        line.End();
        line.End();
        benchmark::DoNotOptimize(line.text().data());
    }
}
BENCHMARK(BM_JsonLineRecord);

#ifdef ZARK_HAVE_NLOHMANN_JSON
std::string HexOf(const std::vector<std::uint8_t> &bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

void BM_NlohmannRecord(benchmark::State &state)
{
    std::int64_t tid = 0;
    JsonLine times; // the same time formatting as the writer's, for a fair comparison
    for (auto _ : state) {
        times.Begin();
        times.Time("a", 1796588068645843);
        times.Time("b", 1796588068645903);
        nlohmann::ordered_json record;
        record["command"] = tid;
        record["kind"] = "read";
        record["handed_at"] = times.text().substr(6, 27);
        record["collected_at"] = times.text().substr(39, 27);
        record["sent"] = {{"target_logical_address", 254}, {"initiator_logical_address", 32},
                          {"destination_address", HexOf(kAddress)}, {"source_address", HexOf(kReturn)},
                          {"key", 0}, {"transaction_identifier", ++tid}, {"extended_address", 0},
                          {"address", 8192}, {"data_length", 4}, {"verify", false}, {"acknowledge", true},
                          {"increment", true}};
        record["outcome"] = "reply";
        record["reply"] = {{"status", 0}, {"status_text", "success"}, {"transaction_identifier", tid},
                           {"data", HexOf(kData)}, {"matches_command", true}};
        const std::string text = record.dump();
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_NlohmannRecord);
#endif

} // namespace
