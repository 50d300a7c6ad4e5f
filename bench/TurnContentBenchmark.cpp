// Turn content hot paths: re-encoding a large generated image, formatting a turn whose context
// holds a huge screenshot, and scanning a long answer for saved image paths. Each has its
// reference in the same run (a plain copy of the same bytes) where one makes sense.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/TurnContent/CodexTurnInputBuilder.h"
#include "VelloraCore/TurnContent/GeneratedImageAttachmentBuilder.h"
#include "tests/VelloraCore/TurnContent/ImageFixtures.h"

namespace {

using namespace vellora;

const std::unique_ptr<FileSystem> kFileSystem = makePosixFileSystem();

// Codex's image folder of the answers below; it does not exist here.
const std::string kImageFolder = "/Users/u/.codex/generated_images";

// A 3000 x 1500 PNG of about 2 MB: a gradient with faint noise on every other row.
const std::string& largePNG() {
  static const std::string png = [] {
    std::vector<std::uint8_t> pixels = test::gradientPixels(3000, 1500, 3);
    const std::vector<std::uint8_t> noisy = test::gradientPixels(3000, 1500, 3, 1);
    const std::size_t row = 3000 * 3;
    for (std::size_t y = 0; y < 1500; y += 2) {
      std::memcpy(pixels.data() + y * row, noisy.data() + y * row, row);
    }
    return test::encodePNG(3000, 1500, 3, pixels);
  }();
  return png;
}

void BM_ReencodeLargePNGUnder700000Bytes(benchmark::State& state) {
  const GeneratedImageAttachmentBuilder builder(*kFileSystem, kImageFolder, 700000);
  const std::string& png = largePNG();
  std::size_t urlBytes = 0;
  for (auto _ : state) {
    std::optional<std::string> url = builder.fittedDataURL(png, "image/png");
    if (!url) state.SkipWithError("no data URL");
    urlBytes = url ? url->size() : 0;
    benchmark::DoNotOptimize(url);
  }
  state.counters["pngBytes"] = double(png.size());
  state.counters["dataURLBytes"] = double(urlBytes);
}
BENCHMARK(BM_ReencodeLargePNGUnder700000Bytes)->Unit(benchmark::kMillisecond);

// A 64 MiB page context: a 60 MiB screenshot data URL and 4 MiB of page text and links.
const JSONValue& largeContext() {
  static const JSONValue context = [] {
    JSONValue::Array links;
    for (int i = 0; i < 20000; ++i) {
      links.push_back(JSONValue::object({{"href", "https://example.com/page/" + std::to_string(i)},
                                         {"text", "Link number " + std::to_string(i)}}));
    }
    std::string text;
    while (text.size() < (std::size_t{3} << 20)) text += "Lorem ipsum dolor sit amet. ";
    return JSONValue::object(
        {{"url", "https://example.com/"},
         {"title", "Example"},
         {"text", text},
         {"links", std::move(links)},
         {"viewportCapture",
          JSONValue::object({{"dataUrl", "data:image/png;base64," + std::string(60 << 20, 'A')},
                             {"width", 1440},
                             {"height", 900}})}});
  }();
  return context;
}

constexpr std::int64_t kContextBytes = std::int64_t{64} << 20;

void BM_FormatPromptWith60MiBScreenshot(benchmark::State& state) {
  const CodexTurnInputBuilder builder(*kFileSystem, 12000, {});
  const JSONValue& context = largeContext();
  for (auto _ : state) {
    std::string text = builder.formatPrompt("Summarise the page", &context, nullptr);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(state.iterations() * kContextBytes);
}
BENCHMARK(BM_FormatPromptWith60MiBScreenshot)->Unit(benchmark::kMillisecond);

void BM_InputWith60MiBScreenshot(benchmark::State& state) {
  const CodexTurnInputBuilder builder(*kFileSystem, 12000, {});
  const JSONValue& context = largeContext();
  for (auto _ : state) {
    JSONValue input = builder.input("Summarise the page", &context, nullptr);
    benchmark::DoNotOptimize(input);
  }
  state.SetBytesProcessed(state.iterations() * kContextBytes);
}
BENCHMARK(BM_InputWith60MiBScreenshot)->Unit(benchmark::kMillisecond);

// The reference: one plain copy of 64 MiB.
void BM_Copy64MiB(benchmark::State& state) {
  const std::string source(std::size_t(kContextBytes), 'A');
  for (auto _ : state) {
    std::string copy = source;
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(state.iterations() * kContextBytes);
}
BENCHMARK(BM_Copy64MiB)->Unit(benchmark::kMillisecond);

// A 1 MB answer of prose with URLs and file paths, holding `matches` saved image paths.
JSONValue answerMessage(int matches) {
  const std::string prose =
      "The page at https://example.com/docs/getting-started links to /usr/local/share/doc and "
      "explains how to configure the widget; see also ./notes/README.md for details. ";
  std::string text;
  int placed = 0;
  while (text.size() < 1000000) {
    text += prose;
    if (placed < matches && text.size() >= std::size_t(placed + 1) * 1000000 / (matches + 1)) {
      text += "Saved to /Users/u/.codex/generated_images/thread/ig_" + std::to_string(placed) +
              ".png here. ";
      ++placed;
    }
  }
  return JSONValue::object(
      {{"method", "item/completed"},
       {"params", JSONValue::object(
                      {{"threadId", "t1"},
                       {"item", JSONValue::object({{"type", "agentMessage"}, {"text", text}})}})}});
}

void BM_ScanOneMBAnswer(benchmark::State& state) {
  const GeneratedImageAttachmentBuilder builder(*kFileSystem, kImageFolder, 700000);
  const JSONValue message = answerMessage(int(state.range(0)));
  const std::size_t bytes = message.serialized().size();
  std::size_t found = 0;
  for (auto _ : state) {
    std::vector<GeneratedImageCandidate> candidates = builder.candidates(message, "t1");
    found = candidates.size();
    benchmark::DoNotOptimize(candidates);
  }
  if (found != std::size_t(state.range(0))) state.SkipWithError("wrong number of matches");
  state.SetBytesProcessed(state.iterations() * std::int64_t(bytes));
}
BENCHMARK(BM_ScanOneMBAnswer)->Arg(0)->Arg(10)->Unit(benchmark::kMicrosecond);

// The same, through attachments(): each match also costs a path check on the disk (the paths do
// not exist here).
void BM_AttachmentsFromOneMBAnswer(benchmark::State& state) {
  const GeneratedImageAttachmentBuilder builder(*kFileSystem, kImageFolder, 700000);
  const JSONValue message = answerMessage(int(state.range(0)));
  const std::size_t bytes = message.serialized().size();
  for (auto _ : state) {
    std::vector<JSONValue> attachments =
        builder.attachments(message, "t1", std::chrono::system_clock::now());
    benchmark::DoNotOptimize(attachments);
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(bytes));
}
BENCHMARK(BM_AttachmentsFromOneMBAnswer)->Arg(0)->Arg(10)->Unit(benchmark::kMicrosecond);

// The reference for the scan: one copy of the answer's bytes.
void BM_CopyOneMBAnswer(benchmark::State& state) {
  const std::string bytes = answerMessage(0).serialized();
  for (auto _ : state) {
    std::string copy = bytes;
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(bytes.size()));
}
BENCHMARK(BM_CopyOneMBAnswer)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
