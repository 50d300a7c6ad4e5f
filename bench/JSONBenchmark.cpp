// JSON read and write throughput for the host's two typical messages: a 64 MiB "chat.turn"
// whose context holds a 60 MiB screenshot data URL, a 2 KB envelope and a "chat.delta". A plain
// memcpy of the same bytes runs in the same process as the reference.
//
//   build/release/bench/json_benchmark --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "VelloraCore/Protocol/NativeEnvelope.h"

namespace {

std::string dataURL(std::size_t bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string url = "data:image/png;base64,";
  url.reserve(url.size() + bytes);
  for (std::size_t i = 0; i < bytes; ++i) url.push_back(kAlphabet[(i * 7 + i / 3) % 64]);
  return url;
}

vellora::NativeEnvelope chatTurn(std::size_t screenshotBytes, std::size_t textBytes) {
  return vellora::NativeEnvelope{
      .type = "chat.turn",
      .requestId = "req-1",
      .sessionId = "session-1",
      .prompt = "Summarise this page and list the three most important points.",
      .context = vellora::JSONValue::object({
          {"url", vellora::JSONValue("https://example.com/articles/2026/native-messaging")},
          {"title", vellora::JSONValue("Native Messaging in practice")},
          {"selection", vellora::JSONValue(std::string(textBytes, 'w'))},
          {"screenshot", screenshotBytes ? std::optional<vellora::JSONValue>(
                                               vellora::JSONValue(dataURL(screenshotBytes)))
                                         : std::nullopt},
      }),
      .commands = vellora::JSONValue::parse(R"([{"kind":"skill","name":"summarise"}])"),
  };
}

std::string encoded(const vellora::NativeEnvelope& envelope) {
  std::string out;
  envelope.appendJSON(out);
  return out;
}

const std::string& largeText() {
  static const std::string text = encoded(chatTurn(60u << 20, 4u << 20));
  return text;
}

const std::string& smallText() {
  static const std::string text = encoded(chatTurn(0, 1700));
  return text;
}

void read(benchmark::State& state, const std::string& text) {
  // The host reads frames into a buffer with parse padding, so the text is not copied.
  std::string buffer = text;
  buffer.resize(text.size() + vellora::JSONValue::kParsePadding, ' ');
  for (auto _ : state) {
    vellora::NativeEnvelope envelope = vellora::NativeEnvelope::fromJSON(
        vellora::JSONValue::parse(std::string_view(buffer.data(), text.size()), buffer.size()));
    benchmark::DoNotOptimize(envelope);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void write(benchmark::State& state, const std::string& text) {
  const vellora::NativeEnvelope envelope =
      vellora::NativeEnvelope::fromJSON(vellora::JSONValue::parse(text));
  for (auto _ : state) {
    std::string out;
    envelope.appendJSON(out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void copy(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    std::string out(text.size(), '\0');
    std::memcpy(out.data(), text.data(), text.size());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Escaping alone: 64 MiB of page text (quotes, backslashes, slashes, line breaks, accents) or
// of base64 written through a reused 1 MiB buffer, as request lines to the app-server are, so
// that no fresh memory is touched; against copying the same bytes through the same buffer.
std::string pageText() {
  const std::string line =
      "Line of the page: \"quoted words\", a path C:\\Users\\me and /usr/local/bin, caf\xC3\xA9 "
      "na\xC3\xAFve.\n";
  std::string text;
  while (text.size() + line.size() <= (64u << 20)) text += line;
  return text;
}

void escapeThroughABuffer(benchmark::State& state, const vellora::JSONValue& value,
                          std::size_t bytes) {
  std::string buffer;
  std::size_t written = 0;
  const vellora::JSONValue::Spill spill = [&](std::string& full) {
    written += full.size();
    full.clear();
  };
  for (auto _ : state) {
    buffer.clear();
    value.serialize(buffer, {}, spill);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_Escape64MiBPageText(benchmark::State& state) {
  static const vellora::JSONValue value(pageText());
  escapeThroughABuffer(state, value, value.stringValue()->size());
}
void BM_Escape64MiBBase64(benchmark::State& state) {
  static const vellora::JSONValue value(dataURL(64u << 20));
  escapeThroughABuffer(state, value, value.stringValue()->size());
}
void BM_Copy64MiBThroughABuffer(benchmark::State& state) {
  static const std::string text = dataURL(64u << 20);
  std::string buffer;
  buffer.reserve(vellora::JSONValue::kSpillBytes);
  for (auto _ : state) {
    for (std::size_t at = 0; at < text.size(); at += vellora::JSONValue::kSpillBytes) {
      buffer.assign(text, at, vellora::JSONValue::kSpillBytes);
      benchmark::DoNotOptimize(buffer);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_Read64MiBChatTurn(benchmark::State& state) {
  read(state, largeText());
}
void BM_Write64MiBChatTurn(benchmark::State& state) {
  write(state, largeText());
}
void BM_Memcpy64MiB(benchmark::State& state) {
  copy(state, largeText());
}
void BM_Read2KBEnvelope(benchmark::State& state) {
  read(state, smallText());
}
void BM_Write2KBEnvelope(benchmark::State& state) {
  write(state, smallText());
}
void BM_Memcpy2KB(benchmark::State& state) {
  copy(state, smallText());
}
// The frame the host writes most: one piece of a streamed answer.
void BM_WriteChatDelta(benchmark::State& state) {
  static const std::string text = encoded(vellora::NativeEnvelope{
      .type = "chat.delta", .requestId = "req-1", .sessionId = "session-1", .delta = " the"});
  write(state, text);
}

BENCHMARK(BM_Read64MiBChatTurn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write64MiBChatTurn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Escape64MiBPageText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Escape64MiBBase64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy64MiBThroughABuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read2KBEnvelope);
BENCHMARK(BM_Write2KBEnvelope);
BENCHMARK(BM_Memcpy2KB);
BENCHMARK(BM_WriteChatDelta);

}  // namespace

BENCHMARK_MAIN();
