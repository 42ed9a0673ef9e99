// Microbenchmarks of the tokenizer, the span writers and whole-page
// conversion, plus conversions of pathological inputs at two sizes (x1 and
// x10) whose bytes per second should stay level if time grows linearly.

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codepage.h"
#include "converter.h"
#include "generator.h"
#include "nscr/lines.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"
#include "script_gen.h"

namespace {

constexpr std::size_t megabyte = 1000 * 1000;

// A realistic script once, in UTF-8 lines, with the tokens of every line.
struct Corpus {
    std::string script;
    std::vector<std::string> lines;
    std::vector<nscr::Token> tokens;  // views into lines
};

const Corpus& corpus() {
    static const Corpus instance = [] {
        Corpus c;
        c.script = scriptgen::generate(scriptgen::Kind::script, megabyte);
        Cp932Decoder decoder;
        nscr::forEachLine(c.script, [&](std::string_view raw) {
            std::string line;
            decoder.appendUtf8(line, raw);
            c.lines.push_back(std::move(line));
        });
        for (const std::string& line : c.lines)
            for (const nscr::Token& token : nscr::parseToToken(line)) c.tokens.push_back(token);
        return c;
    }();
    return instance;
}

void parseLines(benchmark::State& state) {
    const Corpus& c = corpus();
    nscr::TokenLine tokens;
    std::size_t index = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const std::string& line = c.lines[index];
        nscr::parseToToken(line, tokens);
        benchmark::DoNotOptimize(tokens.data());
        bytes += static_cast<std::int64_t>(line.size());
        if (++index == c.lines.size()) index = 0;
    }
    state.SetBytesProcessed(bytes);
}

template <typename Format>
void formatTokens(benchmark::State& state, Format format) {
    const Corpus& c = corpus();
    std::size_t index = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const nscr::Token& token = c.tokens[index];
        benchmark::DoNotOptimize(format(token));
        bytes += static_cast<std::int64_t>(token.text.size());
        if (++index == c.tokens.size()) index = 0;
    }
    state.SetBytesProcessed(bytes);
}

// The span writer a page uses, appending into one growing buffer.
void appendSpans(benchmark::State& state, const nscr::SpanFormat& spans) {
    const Corpus& c = corpus();
    std::string out;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        out.clear();
        for (const nscr::Token& token : c.tokens) spans.append(out, token.type, token.text);
        benchmark::DoNotOptimize(out.data());
        bytes += static_cast<std::int64_t>(c.script.size());
    }
    state.SetBytesProcessed(bytes);
}

void convert(benchmark::State& state, const std::string& script, OutputMode mode, bool lineNumbers,
             const ScriptSettings& settings = {}) {
    Generator generator(mode, lineNumbers, settings.encoding);
    Cp932Decoder decoder;
    std::size_t pageSize = 0;
    for (auto _ : state) {
        // The page as the program gathers it, without a copy into a string.
        Page page = convertScript(script, generator, settings, decoder).page;
        std::vector<std::string_view> pieces = page.finishedPieces();
        pageSize = 0;
        for (std::string_view piece : pieces) pageSize += piece.size();
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(script.size()));
    state.counters["page_MB"] = static_cast<double>(pageSize) / megabyte;
}

// The generated script in UTF-8, for -utf8 pages.
const std::string& utf8Input(std::size_t size) {
    static std::map<std::size_t, std::string> made;
    auto [at, fresh] = made.try_emplace(size);
    if (fresh) {
        Cp932Decoder decoder;
        decoder.appendUtf8(at->second, scriptgen::generate(scriptgen::Kind::script, size));
    }
    return at->second;
}

// Inputs are made once per kind and size, outside the timing.
const std::string& input(scriptgen::Kind kind, std::size_t size) {
    static std::map<std::pair<scriptgen::Kind, std::size_t>, std::string> made;
    auto [at, fresh] = made.try_emplace({kind, size});
    if (fresh) at->second = scriptgen::generate(kind, size);
    return at->second;
}

void registerAll() {
    benchmark::RegisterBenchmark("parseToToken/line_mix", parseLines);
    benchmark::RegisterBenchmark("formatStyled/token_mix", [](benchmark::State& state) {
        formatTokens(state, [](const nscr::Token& t) { return nscr::formatStyled(t.type, t.text); });
    });
    benchmark::RegisterBenchmark("formatClassed/token_mix", [](benchmark::State& state) {
        formatTokens(state, [](const nscr::Token& t) { return nscr::formatClassed(t.type, t.text); });
    });
    benchmark::RegisterBenchmark("SpanFormat::append/styled_1MB", [](benchmark::State& state) {
        appendSpans(state, nscr::SpanFormat::styled());
    });
    benchmark::RegisterBenchmark("SpanFormat::append/classed_1MB", [](benchmark::State& state) {
        appendSpans(state, nscr::SpanFormat::classed());
    });

    struct ModeCase {
        const char* name;
        OutputMode mode;
        bool lineNumbers;
    };
    for (ModeCase m : {ModeCase{"STYLE", OutputMode::STYLE, false}, ModeCase{"CLASS", OutputMode::CLASS, false},
                       ModeCase{"TEXT", OutputMode::TEXT, false}, ModeCase{"STYLE_lineno", OutputMode::STYLE, true}}) {
        benchmark::RegisterBenchmark((std::string("convertScript/") + m.name + "/script_2MB").c_str(),
                                     [m](benchmark::State& state) {
                                         convert(state, input(scriptgen::Kind::script, 2 * megabyte), m.mode,
                                                 m.lineNumbers);
                                     })
            ->Unit(benchmark::kMillisecond);
    }

    benchmark::RegisterBenchmark("convertScript/STYLE_lenient/script_2MB", [](benchmark::State& state) {
        convert(state, input(scriptgen::Kind::script, 2 * megabyte), OutputMode::STYLE, false,
                ScriptSettings{TextEncoding::CP932, true});
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("convertScript/STYLE_utf8/script_2MB", [](benchmark::State& state) {
        convert(state, utf8Input(2 * megabyte), OutputMode::STYLE, false, ScriptSettings{TextEncoding::UTF8, false});
    })->Unit(benchmark::kMillisecond);

    benchmark::RegisterBenchmark("convertScript/STYLE/script_20MB", [](benchmark::State& state) {
        convert(state, input(scriptgen::Kind::script, 20 * megabyte), OutputMode::STYLE, false);
    })->Unit(benchmark::kMillisecond)->UseRealTime();

    // Pathological inputs in STYLE mode, x1 and x10.
    struct SizeCase {
        scriptgen::Kind kind;
        std::size_t size;
    };
    for (SizeCase s : {SizeCase{scriptgen::Kind::longLine, 5 * megabyte},
                       SizeCase{scriptgen::Kind::emptyLines, 2 * megabyte},
                       SizeCase{scriptgen::Kind::brackets, 1 * megabyte},
                       SizeCase{scriptgen::Kind::literal, 1 * megabyte},
                       SizeCase{scriptgen::Kind::stars, 1 * megabyte}}) {
        for (std::size_t factor : {1, 10}) {
            std::size_t size = s.size * factor;
            std::string name = "pathological/" + std::string(scriptgen::kindName(s.kind)) + "/" +
                               std::to_string(size / megabyte) + "MB" + (factor == 1 ? "_x1" : "_x10");
            benchmark::RegisterBenchmark(name.c_str(),
                                         [s, size](benchmark::State& state) {
                                             convert(state, input(s.kind, size), OutputMode::STYLE, false);
                                         })
                ->Unit(benchmark::kMillisecond);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    nscr::loadReservedCommands(HIBARUNE_COMMANDS_FILE);
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
