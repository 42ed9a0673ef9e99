#include "check/report.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <tuple>

#include "nscr/error.h"

namespace check {

Diagnostics CollectingSink::sorted() && {
    // The places are sorted, with the order of report for ties; then each
    // diagnostic moves once, to its place in the same array, cycle by
    // cycle, so that no second array is made.
    struct Key {
        std::uint64_t fileOrder, line, column;
        std::size_t index;
        bool operator<(const Key& other) const {
            return std::tie(fileOrder, line, column, index) < std::tie(other.fileOrder, other.line, other.column, other.index);
        }
    };
    std::vector<Key> keys;
    keys.reserve(diagnostics_.size());
    for (std::size_t k = 0; k < diagnostics_.size(); ++k) {
        const Location& where = diagnostics_[k].where;
        keys.push_back({static_cast<std::uint64_t>(where.fileOrder), static_cast<std::uint64_t>(where.line),
                        static_cast<std::uint64_t>(where.column), k});
    }
    std::sort(keys.begin(), keys.end());
    std::vector<bool> placed(keys.size(), false);
    for (std::size_t start = 0; start < keys.size(); ++start) {
        if (placed[start]) continue;
        Diagnostic first = std::move(diagnostics_[start]);
        std::size_t at = start;
        for (;;) {
            placed[at] = true;
            std::size_t from = keys[at].index;
            if (from == start) break;
            diagnostics_[at] = std::move(diagnostics_[from]);
            at = from;
        }
        diagnostics_[at] = std::move(first);
    }
    return std::move(diagnostics_);
}

std::string textLine(const Diagnostic& diagnostic) {
    std::string line;
    appendTextLine(line, diagnostic);
    return line;
}

void appendTextLine(std::string& out, const Diagnostic& diagnostic) {
    const Location& where = diagnostic.where;
    char number[16];
    out += where.file;
    out += ':';
    out.append(number, std::to_chars(number, number + sizeof number, where.line).ptr);
    out += ':';
    out.append(number, std::to_chars(number, number + sizeof number, where.column).ptr);
    out += ": ";
    out += severityName(diagnostic.severity);
    out += ": ";
    out += diagnostic.message;
    out += " [";
    out += infoOf(diagnostic.check).name;
    out += "]\n";
}

namespace {

// The length of the UTF-8 sequence at text[at], or 0 when it is none.
std::size_t utf8Length(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    unsigned char lead = byte(0);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                         : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(k) & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;
    if (lead == 0xED && byte(1) >= 0xA0) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;
    return length;
}

// A path as a URI reference: bytes other than unreserved ones and "/" are
// percent-encoded.
std::string uriOf(std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri;
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                     std::strchr("-._~/", c) != nullptr;
        if (plain && byte != 0) {
            uri += c;
        } else {
            uri += '%';
            uri += hex[byte >> 4];
            uri += hex[byte & 15];
        }
    }
    return uri;
}

std::string_view sarifLevel(Severity severity) { return severity == Severity::Note ? "note" : severityName(severity); }

// Output gathered in a buffer and written out in large pieces.
class Output {
public:
    explicit Output(std::FILE* out) : out_(out) {}
    void add(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= 1 << 16) flush();
    }
    void addTextLine(const Diagnostic& diagnostic) {
        appendTextLine(buffer_, diagnostic);
        if (buffer_.size() >= 1 << 16) flush();
    }
    void flush() {
        if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
            throw nscr::Error(std::strerror(errno));
        buffer_.clear();
        if (std::fflush(out_) != 0) throw nscr::Error(std::strerror(errno));
    }

private:
    std::FILE* out_;
    std::string buffer_;
};

void writeSarifRules(Output& out) {
    out.add("{\"$schema\":\"https://json.schemastore.org/sarif-2.1.0.json\",\"version\":\"2.1.0\",\"runs\":[{\"tool\":"
            "{\"driver\":{\"name\":\"Hibarune\",\"rules\":[");
    for (std::size_t k = 0; k < checkTable.size(); ++k) {
        const CheckInfo& info = checkTable[k];
        out.add(k == 0 ? "\n" : ",\n");
        out.add("{\"id\":" + jsonString(info.name) + ",\"shortDescription\":{\"text\":" + jsonString(info.help) +
                "},\"help\":{\"text\":" + jsonString(info.help) + "},\"defaultConfiguration\":{\"level\":\"" +
                std::string(sarifLevel(info.severity)) + "\",\"enabled\":" + (info.onByDefault ? "true" : "false") + "}}");
    }
    out.add("]}},\"results\":[");
}

std::string sarifResult(const Diagnostic& diagnostic) {
    const Location& where = diagnostic.where;
    return "{\"ruleId\":" + jsonString(infoOf(diagnostic.check).name) +
           ",\"ruleIndex\":" + std::to_string(static_cast<unsigned>(diagnostic.check)) + ",\"level\":\"" +
           std::string(sarifLevel(diagnostic.severity)) + "\",\"message\":{\"text\":" + jsonString(diagnostic.message) +
           "},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":" + jsonString(uriOf(where.file)) +
           "},\"region\":{\"startLine\":" + std::to_string(where.line) + ",\"startColumn\":" + std::to_string(where.column) +
           "}}}]}";
}

}  // namespace

std::string jsonString(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string json = "\"";
    json.reserve(text.size() + 2);
    for (std::size_t at = 0; at < text.size();) {
        char c = text[at];
        std::size_t length = utf8Length(text, at);
        if (length == 0) {
            json += "\\ufffd";
            ++at;
            continue;
        }
        if (length > 1) {
            json.append(text.substr(at, length));
            at += length;
            continue;
        }
        ++at;
        switch (c) {
            case '"': json += "\\\""; break;
            case '\\': json += "\\\\"; break;
            case '\n': json += "\\n"; break;
            case '\r': json += "\\r"; break;
            case '\t': json += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    json += "\\u00";
                    json += hex[static_cast<unsigned char>(c) >> 4];
                    json += hex[c & 15];
                } else {
                    json += c;
                }
        }
    }
    return json + "\"";
}

std::string jsonLine(const Diagnostic& diagnostic) {
    const Location& where = diagnostic.where;
    return "{\"file\":" + jsonString(where.file) + ",\"line\":" + std::to_string(where.line) +
           ",\"column\":" + std::to_string(where.column) + ",\"severity\":\"" +
           std::string(severityName(diagnostic.severity)) + "\",\"check\":" + jsonString(infoOf(diagnostic.check).name) +
           ",\"message\":" + jsonString(diagnostic.message) + "}\n";
}

void writeDiagnostics(std::FILE* out, Format format, std::span<const Diagnostic> diagnostics) {
    Output output(out);
    if (format == Format::Sarif) writeSarifRules(output);
    bool first = true;
    for (const Diagnostic& diagnostic : diagnostics) {
        switch (format) {
            case Format::Text: output.addTextLine(diagnostic); break;
            case Format::Json: output.add(jsonLine(diagnostic)); break;
            case Format::Sarif:
                output.add(first ? "\n" : ",\n");
                output.add(sarifResult(diagnostic));
                break;
        }
        first = false;
    }
    if (format == Format::Sarif) output.add("]}]}\n");
    output.flush();
}

std::string summaryLine(std::span<const Diagnostic> diagnostics, std::size_t files) {
    std::size_t counts[3] = {0, 0, 0};
    for (const Diagnostic& diagnostic : diagnostics) ++counts[static_cast<std::size_t>(diagnostic.severity)];
    auto counted = [](std::size_t count, std::string_view word) {
        return std::to_string(count) + " " + std::string(word) + (count == 1 ? "" : "s");
    };
    std::string line = counted(counts[0], "error") + ", " + counted(counts[1], "warning");
    if (counts[2] != 0) line += ", " + counted(counts[2], "note");
    return line + " in " + counted(files, "file") + "\n";
}

}  // namespace check
