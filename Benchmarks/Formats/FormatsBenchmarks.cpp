// Reading and writing the external formats at library sizes: bookmark exports through the tidy
// HTML reader and the XPath walk an importer makes, property lists, JSON and digests.
#include "Platform/Foundation/Crypto.h"
#include "Platform/Foundation/HtmlDocument.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XmlDocument.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace kesto::fnd;

namespace {

// A bookmark export of `count` bookmarks in folders of `perFolder`, every third with a note.
std::string netscapeFile(int count, int perFolder) {
  std::string out =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (int i = 0; i < count; ++i) {
    if (i % perFolder == 0) {
      if (i) out += "    </DL><p>\n";
      out += "    <DT><H3 ADD_DATE=\"1\">Folder " + std::to_string(i / perFolder) + "</H3>\n    <DL><p>\n";
    }
    out += "        <DT><A HREF=\"https://example.com/page/" + std::to_string(i) +
           "\" ADD_DATE=\"1400000000\" TAGS=\"news,long_reads\">Title of page " + std::to_string(i) + "</A>\n";
    if (i % 3 == 0) out += "        <DD>A short description of page " + std::to_string(i) + "\n";
  }
  out += "    </DL><p>\n</DL><p>\n";
  return out;
}

void BM_HtmlBookmarkExport(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string file = netscapeFile(count, static_cast<int>(state.range(1)));
  for (auto _ : state) {
    auto doc = HtmlDocument::parse(file);
    std::size_t items = 0;
    for (const XmlNode& list : doc->nodesForXPath("/html/body/dl/dd/dl")) {
      for (const XmlNode& dt : list.nodesForXPath("dt")) {
        items += dt.nodesForXPath("a/@href").size();
        benchmark::DoNotOptimize(dt.firstNodeForXPath("following-sibling::*[1][self::dd]"));
        benchmark::DoNotOptimize(dt.firstNodeForXPath("a/@tags").stringValue());
      }
    }
    if (items != static_cast<std::size_t>(count)) state.SkipWithError("bookmarks lost");
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_HtmlBookmarkExport)->Args({1000, 100})->Args({10000, 500})->Args({10000, 10000})
    ->Unit(benchmark::kMillisecond);

Value library(int count) {
  Array records;
  for (int i = 0; i < count; ++i)
    records.push_back(Value(Dictionary{{"url", Value("https://example.com/page/" + std::to_string(i))},
                                       {"title", Value("Title of page " + std::to_string(i))},
                                       {"added", Value(Date(400000000.0 + i))},
                                       {"rating", Value(i % 5)},
                                       {"isFavorite", Value(i % 7 == 0)},
                                       {"tags", Value(Array{Value("news"), Value("long reads")})}}));
  return Value(Dictionary{{"records", Value(std::move(records))}});
}

void BM_PropertyListRoundTrip(benchmark::State& state) {
  const auto format = state.range(1) ? PropertyListFormat::Binary : PropertyListFormat::Xml;
  const Value value = library(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto bytes = PropertyList::write(value, format);
    benchmark::DoNotOptimize(PropertyList::read(*bytes));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PropertyListRoundTrip)->Args({10000, 0})->Args({10000, 1})->Unit(benchmark::kMillisecond);

void BM_JsonRoundTrip(benchmark::State& state) {
  Array records;
  for (int i = 0; i < state.range(0); ++i)
    records.push_back(Value(Dictionary{{"path", Value("/Apps/kesto/file " + std::to_string(i))},
                                       {"bytes", Value(static_cast<long long>(i) * 1048576LL)},
                                       {"is_dir", Value(false)},
                                       {"rev", Value("35e97029684fe")}}));
  const std::string text = *Json::write(Value(Dictionary{{"contents", Value(std::move(records))}}));
  for (auto _ : state) benchmark::DoNotOptimize(Json::write(*Json::parse(text)));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_JsonRoundTrip)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Md5(benchmark::State& state) {
  const std::string data(static_cast<std::size_t>(state.range(0)), 'x');
  for (auto _ : state) benchmark::DoNotOptimize(crypto::md5Hex(data));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5)->Arg(64)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
