#include "write/html5/reading_page.h"

#include "write/html5/page_out.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <unordered_map>

#include "analysis/characters.h"
#include "codepage.h"
#include "html5.h"
#include "nscr/error.h"
#include "write/html5/markup.h"
#include "write/html5/page_out.h"

namespace writers::html5 {

using namespace std::string_view_literals;

using analysis::Model;
using analysis::Span;
using analysis::SpanKind;
using analysis::Symbol;
using analysis::SymbolKind;
using analysis::none;

namespace {

// Script bytes into the page's UTF-8. A byte that is not valid in the
// script's encoding shows as U+FFFD.
class Utf8Decoder {
public:
    explicit Utf8Decoder(input::Encoding encoding) : encoding_(encoding), gbk_("UTF-8", "GBK") {}

    // The UTF-8 form of bytes; the result lives until the next call.
    std::string_view decoded(std::string_view bytes) {
        if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return analysis::isAsciiByte(c); })) return bytes;
        decoded_.clear();
        if (!decode(bytes, decoded_)) {
            decoded_.clear();
            decodeEach(bytes);
        }
        return decoded_;
    }

    // Appends the escaped UTF-8 form of CP932 bytes; false, with nothing
    // appended, for bytes of another encoding or not valid.
    bool decodesEscapedInto(PageOut& out, std::string_view bytes) {
        if (encoding_ != input::Encoding::CP932) return false;
        try {
            char* room = out.room(Cp932Decoder::escapedRoom(bytes.size()));
            out.commit(cp932().decodeEscapedTo(room, bytes));
            return true;
        } catch (const nscr::Error&) {
            return false;
        }
    }

private:
    bool decode(std::string_view bytes, std::string& into) {
        try {
            switch (encoding_) {
                case input::Encoding::CP932: cp932().appendUtf8(into, bytes); return true;
                case input::Encoding::UTF8:
                    checkUtf8(bytes);
                    into += bytes;
                    return true;
                case input::Encoding::GBK: {
                    std::string piece;
                    if (gbk_.convert(bytes, piece) != IconvDescriptor::Result::converted) return false;
                    into += piece;
                    return true;
                }
            }
        } catch (const nscr::Error&) {
        }
        return false;
    }

    // One character at a time, so that only the bad ones are replaced.
    void decodeEach(std::string_view bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            std::size_t size = analysis::characterSize(bytes, at, encoding_);
            std::size_t before = decoded_.size();
            if (!decode(bytes.substr(at, size), decoded_)) {
                // A failed decoding may leave room it asked for behind.
                decoded_.resize(before);
                decoded_ += "\xEF\xBF\xBD";
            }
            at += size;
        }
    }

    // One decoder a thread: its table is made once, not once a page.
    static Cp932Decoder& cp932() {
        static thread_local Cp932Decoder decoder;
        return decoder;
    }

    input::Encoding encoding_;
    IconvDescriptor gbk_;
    std::string decoded_;
};

// Script bytes onto the page, in UTF-8 and escaped for HTML.
class TextWriter {
public:
    TextWriter(PageOut& out, input::Encoding encoding) : out_(out), decoder_(encoding) {}
    void write(std::string_view bytes) {
        // A short piece of ASCII with nothing to escape, as most of a command
        // line's pieces are, is the same on the page.
        if (bytes.size() <= shortPiece && isPlain(bytes)) {
            out_.commit(PageOut::copiedShort(out_.room(shortPiece), bytes));
            return;
        }
        // CP932 is decoded and escaped straight onto the page.
        if (decoder_.decodesEscapedInto(out_, bytes)) return;
        appendEscaped(out_, decoder_.decoded(bytes));
    }
    std::string utf8(std::string_view bytes) { return std::string(decoder_.decoded(bytes)); }

private:
    PageOut& out_;
    // Short pieces are looked at eight bytes at a time, as PageOut copies
    // them: the first eight and the last eight, which may overlap, or four
    // and four.
    static constexpr std::size_t shortPiece = 16;

    template <typename Word>
    static Word load(const char* p) {
        Word word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }

    // Whether a word's bytes are all below 0x80 and none is &, <, > or ":
    // with its 2 bit set, "<" or ">" becomes ">", and with its 4 bit set, "&"
    // or '"' becomes "&"; no other byte does, a zero byte neither.
    static bool plainWord(std::uint64_t word) {
        constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
        auto hasZeroByte = [](std::uint64_t x) { return ((x - ones) & ~x & highs) != 0; };
        return (word & highs) == 0 && !hasZeroByte((word | ones * 2) ^ (ones * '>')) &&
               !hasZeroByte((word | ones * 4) ^ (ones * '&'));
    }

    static bool isPlain(std::string_view bytes) {
        const char* p = bytes.data();
        std::size_t n = bytes.size();
        if (n >= 8) return plainWord(load<std::uint64_t>(p)) && plainWord(load<std::uint64_t>(p + n - 8));
        if (n >= 4) return plainWord(load<std::uint32_t>(p) | std::uint64_t{load<std::uint32_t>(p + n - 4)} << 32);
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < n; ++k) word |= std::uint64_t{static_cast<unsigned char>(p[k])} << (8 * k);
        return plainWord(word);
    }

    Utf8Decoder decoder_;
};

constexpr std::size_t kindIndex(SpanKind kind) { return static_cast<std::size_t>(kind); }

// The class of each kind of piece, asked for every piece: worked out once a
// page.
using KindClasses = std::array<std::string_view, kindIndex(SpanKind::Word) + 1>;

KindClasses classesOfKinds() {
    KindClasses classes;
    for (std::size_t k = 0; k < classes.size(); ++k) classes[k] = classOf(static_cast<SpanKind>(k));
    return classes;
}

// The decimal text of line numbers that mostly come one after another:
// the next is the last plus one, made by carrying digits, not dividing.
class LineNumberText {
public:
    std::string_view of(std::uint32_t number) {
        if (size_ != 0 && number == last_ + 1)
            increment();
        else
            size_ = static_cast<std::size_t>(std::to_chars(digits_, digits_ + sizeof digits_, number).ptr - digits_);
        last_ = number;
        return {digits_, size_};
    }

private:
    void increment() {
        for (std::size_t k = size_; k-- > 0;) {
            if (digits_[k] != '9') {
                ++digits_[k];
                return;
            }
            digits_[k] = '0';
        }
        // All nines: one digit more, a 1 followed by the zeros.
        digits_[0] = '1';
        digits_[size_++] = '0';
    }

    char digits_[16] = {};
    std::size_t size_ = 0;
    std::uint32_t last_ = 0;
};

std::string lineId(std::uint32_t line) { return std::string("L") + std::to_string(line + 1); }

class PageWriter {
public:
    PageWriter(const Model& model, const PageLayout& layout, std::size_t part, const ReadingOptions& options,
               nscr::ByteBuffer& buffer)
        : model_(model),
          layout_(layout),
          partIndex_(part),
          part_(layout.parts()[part]),
          options_(options),
          out_(buffer),
          text_(out_, model.files[part_.file].encoding) {}

    std::string_view write() {
        const input::SourceFile& file = model_.files[part_.file];
        std::string lang = !options_.lang.empty()   ? options_.lang
                           : options_.languages ? (*options_.languages)[part_.file]
                                                : languageOf(model_, part_.file);
        std::string title = file.name + (part_.number > 1 ? std::string(" (") + std::to_string(part_.number) + ")" : "");
        out_.reserve(partBytes() * 3 + 4096);
        out_ += pageHead(title, lang, options_.lineNumbers);
        writeBar();
        writeLabelIndex();
        out_ += "<main class=\"code\">\n"sv;
        seekJumps();
        seekFindings();
        for (std::uint32_t first = part_.firstLine, end; first < part_.endLine; first = end) {
            end = blockEnd(first);
            writeBlock(first, end);
        }
        out_ += "</main>\n"sv;
        if (!tips_.empty()) out_ += "<script type=\"application/json\" id=\"tips\">" + tips_ + "}</script>\n";
        out_ += pageScript(partTable());
        out_ += "</body>\n</html>\n"sv;
        return out_.page();
    }

private:
    // ---- Around the text -------------------------------------------------

    void writeBar() {
        out_ += "<nav class=\"bar\">"sv;
        if (!options_.frontPagePath.empty()) {
            out_ += "<a class=\"home\" href=\"" + layout_.hrefToPath(partIndex_, options_.frontPagePath, "") + "\">";
            appendEscaped(out_, options_.frontPageTitle.empty() ? "Index" : options_.frontPageTitle);
            out_ += "</a> "sv;
        }
        writeNeighbour(part_.file == 0 ? none : part_.file - 1, "prev", "\xE2\x86\x90 ");
        out_ += "<b class=\"here\">"sv;
        appendEscaped(out_, model_.files[part_.file].name);
        out_ += "</b>"sv;
        if (part_.file + 1 < model_.files.size() && !options_.frontPagePath.empty()) out_ += ' ';
        writeNeighbour(part_.file + 1 < model_.files.size() ? part_.file + 1 : none, "next", "\xE2\x86\x92 ");
        writeParts();
        out_ += "</nav>\n"sv;
    }

    void writeNeighbour(std::uint32_t file, const char* rel, const char* arrow) {
        if (file == none || options_.frontPagePath.empty()) return;
        std::size_t first = layout_.partsOfFile(file).first;
        out_ += std::string("<a rel=\"") + rel + "\" href=\"" + layout_.href(partIndex_, first, "") + "\">" + arrow;
        appendEscaped(out_, model_.files[file].name);
        out_ += "</a>"sv;
        if (file < part_.file) out_ += ' ';
    }

    void writeParts() {
        auto [first, last] = layout_.partsOfFile(part_.file);
        if (last - first < 2) return;
        out_ += "<span class=\"parts\">"sv;
        for (std::size_t k = first; k < last; ++k) {
            const PagePart& part = layout_.parts()[k];
            std::string range = std::to_string(part.firstLine + 1) + "\xE2\x80\x93" + std::to_string(part.endLine);
            if (k == partIndex_) {
                out_ += " <b>"sv;
                out_ += range;
                out_ += "</b>"sv;
            } else {
                out_ += " <a href=\"" + layout_.href(partIndex_, k, "") + "\">" + range + "</a>";
            }
        }
        out_ += "</span>"sv;
    }

    // [[first line, last line, "page"], ...] of the file's parts, when it
    // has more than one: a line's link lands on the part that holds it.
    std::string partTable() const {
        auto [first, last] = layout_.partsOfFile(part_.file);
        if (last - first < 2) return {};
        std::string table = "[";
        for (std::size_t k = first; k < last; ++k) {
            const PagePart& part = layout_.parts()[k];
            if (k != first) table += ',';
            std::string href = layout_.href(partIndex_, k, "");
            table += std::string("[") + std::to_string(part.firstLine + 1) + "," + std::to_string(part.endLine) + ",\"" + href + "\"]";
        }
        return table + "]";
    }

    // The labels of the part's lines, from the definitions, which are in
    // script order: its lines' spans stand far apart in memory.
    std::vector<std::uint32_t> labelsOfPart() const {
        const Symbol* symbols = model_.symbols.data();
        const Symbol* end = symbols + model_.symbols.size();
        const Symbol* first = std::lower_bound(symbols, end, part_, [](const Symbol& symbol, const PagePart& part) {
            return symbol.pos.file != part.file ? symbol.pos.file < part.file : symbol.pos.line < part.firstLine;
        });
        std::vector<std::uint32_t> labels;
        for (const Symbol* symbol = first; symbol != end && symbol->pos.file == part_.file && symbol->pos.line < part_.endLine;
             ++symbol)
            if (symbol->kind == SymbolKind::Label) labels.push_back(static_cast<std::uint32_t>(symbol - symbols));
        return labels;
    }

    void writeLabelIndex() {
        std::vector<std::uint32_t> labels = labelsOfPart();
        if (labels.empty()) return;
        std::string edge;
        ::html5::appendIndexOpening(edge, labels.size());
        out_ += edge;
        std::string id;
        // Each label's line and name are fetched a few labels ahead.
        constexpr std::size_t ahead = 8;
        for (std::size_t k = 0; k < labels.size(); ++k) {
            if (k + ahead < labels.size()) model_.fetchLine(model_.symbols[labels[k + ahead]].pos);
            if (k + ahead / 2 < labels.size()) model_.fetchBytes(model_.symbols[labels[k + ahead / 2]].pos);
            const Symbol& label = model_.symbols[labels[k]];
            std::string_view name = model_.nameOf(label);
            symbolIdInto(id, label);
            char* room = out_.room(::html5::indexEntryRoom(name.size(), id.size(), 0));
            out_.commit(::html5::writeIndexEntry(room, name, id, label.pos.line + 1, ""));
        }
        edge.clear();
        ::html5::appendIndexClosing(edge);
        out_ += edge;
    }

    // ---- Blocks and lines ------------------------------------------------

    // A block ends on a line with text where it can: a copy that runs on
    // into the next block drops an empty last line of a block.
    std::uint32_t blockEnd(std::uint32_t first) const {
        std::uint32_t end = std::min(part_.endLine, first + blockLines);
        if (end == part_.endLine) return end;
        for (std::uint32_t last = end; last > first + 1; --last)
            if (!model_.lineText(part_.file, last - 1).empty()) return last;
        return end;
    }

    // The block's first line sets the counter of the numbers: a block is
    // laid out on its own, so counting cannot run on from the block before.
    void writeBlock(std::uint32_t first, std::uint32_t end) {
        out_ += "<pre class=\"b\""sv;
        if (end - first != blockLines)
            out_ += std::string(" style=\"contain-intrinsic-size:auto ") + std::to_string((end - first) * 3 / 2) + "em\"";
        out_ += ">"sv;
        for (std::uint32_t line = first; line < end; ++line) {
            writeLine(line, line == first && options_.lineNumbers);
            if (line + 1 != end) out_ += '\n';
        }
        out_ += "</pre>\n"sv;
    }

    void writeLine(std::uint32_t line, bool setsCounter) {
        std::uint32_t global = model_.lineIndex(part_.file, line);
        std::string_view text = model_.lineText(part_.file, line);
        std::string findings = findingsAt(line);
        std::string_view number = lineNumbers_.of(line + 1);
        if (findings.empty() && !setsCounter) {
            out_.append("<span id=\"L"sv, number, "\">"sv);
        } else {
            out_.append(findings.empty() ? "<span id=\"L"sv : "<span class=\"fd\" id=\"L"sv, number, "\""sv);
            if (setsCounter) out_.append(" style=\"counter-set:n "sv, number, "\""sv);
            if (!findings.empty()) {
                out_ += " title=\""sv;
                appendEscaped(out_, findings);
                out_ += '"';
            }
            out_ += '>';
        }
        auto [first, last] = model_.spansOf(global);
        std::uint32_t at = 0;
        std::uint32_t textStart = Model::textStart(model_.lines[global], text);
        const Span* label = nullptr;
        for (const Span* span = first; span != last; ++span) {
            if (span->begin < at) continue;
            writeUncovered(text.substr(0, span->begin), at, textStart);
            writeSpan(*span, text.substr(span->begin, span->end - span->begin), line);
            if (span->kind() == SpanKind::LabelDef) label = span;
            at = span->end;
        }
        writeUncovered(text, at, textStart);
        closeElement();
        if (label != nullptr) writeReferences(model_.symbols[label->target()]);
        out_ += "</span>"sv;
    }

    // The bytes of a line from `at` to the end of `upTo` that no span
    // covers: plain, but text on a text line from its start.
    void writeUncovered(std::string_view upTo, std::uint32_t at, std::uint32_t textStart) {
        auto end = static_cast<std::uint32_t>(upTo.size());
        if (at < textStart) writePlain(upTo.substr(at, std::min(end, textStart) - at));
        if (end > std::max(at, textStart)) writeColoured(classes_[kindIndex(SpanKind::Text)], upTo.substr(std::max(at, textStart)));
    }

    void writePlain(std::string_view bytes) {
        if (bytes.empty()) return;
        closeElement();
        text_.write(bytes);
    }

    // ---- Pieces ----------------------------------------------------------

    // Neighbouring pieces of one class share one element: the last one is
    // left open until the next piece shows whether it may go on.
    void openElement(std::string_view className) {
        if (open_ == className && !className.empty()) return;
        closeElement();
        out_.append("<span class=\""sv, className, "\">"sv);
        open_ = className;
    }

    void closeElement() {
        if (open_.empty()) return;
        out_ += "</span>"sv;
        open_ = {};
    }

    void writeColoured(std::string_view className, std::string_view bytes) {
        if (className.empty()) {
            writePlain(bytes);
            return;
        }
        openElement(className);
        text_.write(bytes);
    }

    // An element of its own: a link or a piece with a title.
    void writeElement(std::string_view tag, std::string_view className, const std::string& attributes,
                      std::string_view bytes) {
        closeElement();
        out_.append("<"sv, tag, " class=\""sv, className, "\""sv, attributes, ">"sv);
        text_.write(bytes);
        out_.append("</"sv, tag, ">"sv);
    }

    // A link of its own, written straight onto the page: the commonest
    // element, with no attribute but the class and where it goes.
    void writeLink(std::string_view className, std::string_view href, std::string_view bytes) {
        closeElement();
        out_.append("<a class=\""sv, className, "\" href=\""sv, href, "\">"sv);
        text_.write(bytes);
        out_ += "</a>"sv;
    }

    // A definition's anchor, its id written straight onto the page.
    void writeAnchor(std::string_view className, const Symbol& symbol, std::string_view bytes) {
        closeElement();
        out_ += "<a class=\""sv;
        out_ += className;
        out_ += "\" id=\""sv;
        symbolIdInto(scratch_, symbol);
        appendEscaped(out_, scratch_);
        out_ += "\">"sv;
        text_.write(bytes);
        out_ += "</a>"sv;
    }

    static std::string attribute(std::string_view name, std::string_view value) {
        std::string written = " ";
        written += name;
        written += "=\"";
        ::html5::appendEscaped(written, value);
        written += '"';
        return written;
    }

    void writeSpan(const Span& span, std::string_view bytes, std::uint32_t line) {
        switch (span.kind()) {
            case SpanKind::LabelDef: return writeLabelDefinition(span, bytes);
            case SpanKind::LabelRef: return writeLabelReference(span, bytes);
            case SpanKind::LabelDynamic:
                return writeElement("span", "dy", attribute("title", "a label chosen at run time"), bytes);
            case SpanKind::Command: return writeCommand(span, bytes, line);
            case SpanKind::UserCommand: return writeUserCommand(span, bytes);
            case SpanKind::UnknownCommand: return writeElement("span", "uk", attribute("title", "unknown command"), bytes);
            case SpanKind::AliasDef: return writeAliasDefinition(span, bytes);
            case SpanKind::AliasUse: return writeAliasUse(span, bytes);
            default: return writeColoured(classes_[kindIndex(span.kind())], bytes);
        }
    }

    void writeLabelDefinition(const Span& span, std::string_view bytes) {
        const Symbol& label = model_.symbols[span.target()];
        if (label.definitionCount == 1) return writeAnchor("tl", label, bytes);
        // A name defined again says so once a page, in the tooltip table.
        std::uint32_t winner = winningDefinition(model_, span.target(), options_.labelRule);
        addTip("l-" + model_.keyOf(label), label.firstOfKey,
               "label *" + std::string(model_.nameOf(label)) + " is defined " + std::to_string(label.definitionCount) +
                   " times; links go to " + place(model_.symbols[winner].pos));
        writeAnchor("tl dup", label, bytes);
    }

    void writeLabelReference(const Span& span, std::string_view bytes) {
        if (span.target() == none) return writeColoured(classes_[kindIndex(SpanKind::LabelRef)], bytes);
        const analysis::Reference& reference = model_.references[span.target()];
        if (reference.dynamic) return writeElement("span", "dy", attribute("title", "a label chosen at run time"), bytes);
        std::uint32_t target = reference.symbol == none ? none : winningDefinition(model_, reference.symbol, options_.labelRule);
        if (target == none) {
            // A string's "name" may hold any of the script's bytes.
            std::string key = text_.utf8(reference.key);
            std::string message = reference.badForm ? "not a label argument: the engine looks for *" + key : "no label *" + key;
            return writeElement("span", "gl u", attribute("title", message) + attribute("data-to", key), bytes);
        }
        writeLink("gl", hrefTo(model_.symbols[target]), bytes);
    }

    void writeCommand(const Span& span, std::string_view bytes, std::uint32_t line) {
        std::string_view className = commandClass(span.target());
        const analysis::Jump* jump = jumpAt(line, span.begin);
        if (jump == nullptr) return writeColoured(className, bytes);
        std::string classes = std::string(className) + " j";
        if (jump->site == analysis::TildeSite::Missing)
            return writeElement("span", classes, attribute("title", "no place to land: no ~ after it"), bytes);
        std::size_t to = layout_.partOf(jump->to.file, jump->to.line);
        std::string where = place(jump->to);
        writeElement("a", classes,
                     " href=\"" + hrefToPart(to, lineId(jump->to.line)) + "\"" +
                         attribute("title", std::string(jump->command) + " goes to " + where),
                     bytes);
    }

    void writeUserCommand(const Span& span, std::string_view bytes) {
        const Symbol& command = model_.symbols[span.target()];
        std::uint32_t label = command.label == none ? none : winningDefinition(model_, command.label, options_.labelRule);
        std::string title = "user command " + std::string(model_.nameOf(command)) + ", defined at " + place(command.pos);
        if (label == none)
            return writeElement("span", "uc u", attribute("title", title + "; no label *" + model_.keyOf(command)), bytes);
        addTip("u-" + model_.keyOf(command), span.target(), title);
        writeLink("uc", hrefTo(model_.symbols[label]), bytes);
    }

    void writeAliasDefinition(const Span& span, std::string_view bytes) {
        const Symbol& alias = model_.symbols[span.target()];
        writeElement("span", "ad", attribute("id", symbolId(alias)) + attribute("title", aliasTitle(alias)), bytes);
    }

    void writeAliasUse(const Span& span, std::string_view bytes) {
        if (span.target() == none) {
            std::string name(bytes);
            name.erase(0, name.find_first_not_of("%$?"));
            return writeElement("span", "al u", attribute("title", std::string("no alias ") + name), bytes);
        }
        std::uint32_t winner = winningDefinition(model_, span.target(), options_.aliasRule);
        const Symbol& alias = model_.symbols[winner];
        if (!tipped_[winner]) addTip(symbolId(alias), winner, aliasTitle(alias));
        writeLink("al", hrefTo(alias), bytes);
    }

    // The tooltips of links are written once a page, in a table the page's
    // script reads when the pointer comes over a link.
    void addTip(const std::string& key, std::uint32_t symbol, const std::string& title) {
        if (tipped_[symbol]) return;
        tipped_[symbol] = true;
        tips_ += tips_.empty() ? "{" : ",";
        appendJsonString(tips_, key);
        tips_ += ':';
        appendJsonString(tips_, title);
    }


    // "numalias bgm_vol = 30, 0.txt:120", with every other definition of
    // the name after it.
    std::string aliasTitle(const Symbol& alias) {
        if (alias.definitionCount == 1) return definitionTitle(alias);
        std::string title;
        for (std::uint32_t k : model_.definitionsOf(alias.kind, model_.keyOf(alias))) {
            const Symbol& definition = model_.symbols[k];
            if (!title.empty()) title += definition.alternative ? "\nor " : "\nagain: ";
            title += definitionTitle(definition);
        }
        // Most engines keep the first definition, Ponscripter the last.
        title += options_.aliasRule == input::DuplicateRule::Last ? "\nthe engine uses the last" : "\nthe engine uses the first";
        return title;
    }

    std::string definitionTitle(const Symbol& definition) {
        // Values and messages hold the script's own bytes: the page is UTF-8.
        std::string_view value = model_.valueOf(definition);
        std::string title = std::string(analysis::symbolKindName(definition.kind)) + " " +
                            std::string(model_.nameOf(definition)) + " = " + text_.utf8(value);
        if (definition.number && std::to_string(*definition.number) != value)
            title += std::string(" (") + std::to_string(*definition.number) + ")";
        title += ", ";
        title += place(definition.pos);
        return title;
    }

    // ---- References of a label -------------------------------------------

    static constexpr std::size_t shownReferences = 8;

    void writeReferences(const Symbol& label) {
        auto [first, last] = model_.referencesTo(label.firstOfKey);
        auto count = static_cast<std::size_t>(last - first);
        if (count == 0) {
            out_ += "<span class=\"refs none\"></span>"sv;
            return;
        }
        out_ += "<span class=\"refs\">"sv;
        out_ += std::to_string(count) + (count == 1 ? " reference:" : " references:");
        for (std::size_t k = 0; k < count; ++k) {
            if (k == shownReferences) out_ += " <button class=\"unfold\">+" + std::to_string(count - k) + " more</button><span class=\"rest\" hidden>";
            // Written in place, as hrefToPart, lineId, attribute and place
            // would make it: a game has a reference for every few lines.
            const analysis::Reference& reference = model_.references[first[k]];
            std::size_t to = layout_.partOf(reference.pos.file, reference.pos.line);
            char digits[16];
            std::string_view number(digits, static_cast<std::size_t>(
                                                std::to_chars(digits, digits + sizeof digits, reference.pos.line + 1).ptr - digits));
            out_.append(" <a href=\""sv, to != partIndex_ ? std::string_view(pathToPart(to)) : std::string_view(), "#L"sv,
                        number, "\" title=\""sv);
            appendEscaped(out_, reference.command);
            out_ += "\">"sv;
            if (reference.pos.file != part_.file) {
                appendEscaped(out_, model_.files[reference.pos.file].name);
                out_ += ':';
            }
            out_.append(number, "</a>"sv);
        }
        if (count > shownReferences) out_ += "</span>"sv;
        out_ += "</span>"sv;
    }

    // ---- Places, ids and links ---------------------------------------------

    std::string place(const analysis::Pos& pos) const { return model_.files[pos.file].name + ":" + std::to_string(pos.line + 1); }

    std::string symbolId(const Symbol& symbol) const {
        std::string id;
        symbolIdInto(id, symbol);
        return id;
    }

    // "l-name", "u-name" or "a-name", and "-2" on for a name's later
    // definitions; the name in lower case.
    void symbolIdInto(std::string& id, const Symbol& symbol) const {
        id.assign(symbol.kind == SymbolKind::Label ? "l-" : symbol.kind == SymbolKind::UserCommand ? "u-" : "a-");
        id += model_.nameOf(symbol);
        for (std::size_t k = 2; k < id.size(); ++k) id[k] = analysis::lowerByte(id[k]);
        if (symbol.ordinal > 1) {
            id += '-';
            id += std::to_string(symbol.ordinal);
        }
    }

    // A link to a definition, worked out once a page for each definition.
    const std::string& hrefTo(const Symbol& symbol) {
        std::string& href = symbolHrefs_[static_cast<std::uint32_t>(&symbol - model_.symbols.data())];
        if (href.empty()) href = hrefToPart(layout_.partOf(symbol.pos.file, symbol.pos.line), symbolId(symbol));
        return href;
    }

    // The way to the page of another part, worked out once.
    const std::string& pathToPart(std::size_t to) {
        std::string& path = partHrefs_[to];
        if (path.empty()) path = layout_.href(partIndex_, to, "");
        return path;
    }

    // A link to an id on the page of a part.
    std::string hrefToPart(std::size_t to, const std::string& id) {
        std::string href;
        if (to != partIndex_) href = pathToPart(to);
        href += '#';
        ::html5::appendEscaped(href, ::html5::hrefOfFile(id));
        return href;
    }

    // ---- Jumps and findings, met in script order -------------------------

    void seekJumps() {
        const auto& jumps = model_.jumps;
        auto before = [&](const analysis::Jump& jump) {
            return jump.from.file < part_.file || (jump.from.file == part_.file && jump.from.line < part_.firstLine);
        };
        nextJump_ = static_cast<std::size_t>(std::partition_point(jumps.begin(), jumps.end(), before) - jumps.begin());
    }

    const analysis::Jump* jumpAt(std::uint32_t line, std::uint32_t column) {
        const auto& jumps = model_.jumps;
        while (nextJump_ < jumps.size()) {
            const analysis::Jump& jump = jumps[nextJump_];
            if (jump.from.file != part_.file || jump.from.line > line || (jump.from.line == line && jump.from.column > column))
                return nullptr;
            ++nextJump_;
            if (jump.from.line == line && jump.from.column == column) return &jump;
        }
        return nullptr;
    }

    void seekFindings() {
        if (options_.findings == nullptr) return;
        const auto& findings = *options_.findings;
        auto before = [&](const analysis::Finding& finding) {
            return finding.pos.file < part_.file || (finding.pos.file == part_.file && finding.pos.line < part_.firstLine);
        };
        nextFinding_ = static_cast<std::size_t>(std::partition_point(findings.begin(), findings.end(), before) - findings.begin());
    }

    // The messages of the findings on a line, one a line.
    std::string findingsAt(std::uint32_t line) {
        std::string messages;
        if (options_.findings == nullptr) return messages;
        const auto& findings = *options_.findings;
        while (nextFinding_ < findings.size() && findings[nextFinding_].pos.file == part_.file &&
               findings[nextFinding_].pos.line <= line) {
            const analysis::Finding& finding = findings[nextFinding_++];
            if (finding.pos.line != line) continue;
            if (!messages.empty()) messages += '\n';
            messages += text_.utf8(finding.message) + " [" + finding.id + "]";
        }
        return messages;
    }

    // The bytes of the part's lines in the script.
    std::size_t partBytes() const {
        if (part_.endLine <= part_.firstLine) return 0;
        const analysis::Line& first = model_.line(part_.file, part_.firstLine);
        const analysis::Line& last = model_.line(part_.file, part_.endLine - 1);
        return last.offset + last.length - first.offset;
    }

    const Model& model_;
    const PageLayout& layout_;
    std::size_t partIndex_;
    const PagePart& part_;
    const ReadingOptions& options_;
    PageOut out_;
    TextWriter text_;
    const KindClasses classes_ = classesOfKinds();
    std::string_view open_;
    LineNumberText lineNumbers_;
    std::size_t nextJump_ = 0;
    std::size_t nextFinding_ = 0;
    std::vector<bool> tipped_ = std::vector<bool>(model_.symbols.size());
    std::vector<std::string> partHrefs_ = std::vector<std::string>(layout_.parts().size());
    // Only the names a page links to: a game has tens of thousands.
    std::unordered_map<std::uint32_t, std::string> symbolHrefs_;
    std::string tips_;
    std::string scratch_;  // an id being written, its room kept from one to the next
};

}  // namespace

std::string_view writeReadingPage(const Model& model, const PageLayout& layout, std::size_t part,
                                  const ReadingOptions& options, nscr::ByteBuffer& buffer) {
    return PageWriter(model, layout, part, options, buffer).write();
}

std::string readingPage(const Model& model, const PageLayout& layout, std::size_t part, const ReadingOptions& options) {
    nscr::ByteBuffer buffer;
    return std::string(writeReadingPage(model, layout, part, options, buffer));
}

std::string utf8Of(std::string_view bytes, input::Encoding encoding) {
    Utf8Decoder decoder(encoding);
    return std::string(decoder.decoded(bytes));
}

namespace {

// Counts the kana, Chinese characters and Latin letters of a line of text
// in an encoding.
template <input::Encoding encoding>
void countScripts(std::string_view text, std::size_t& kana, std::size_t& han, std::size_t& latin) {
    if constexpr (encoding == input::Encoding::CP932) {
        // CP932 in a loop of its own, most of a game's text: a lead byte cut
        // short by the line's end, or a single byte above ASCII, is no letter.
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t size = text.size();
        for (std::size_t at = 0; at < size;) {
            unsigned char lead = bytes[at];
            bool isLead = static_cast<unsigned char>(lead - 0x81) <= 0x9F - 0x81 ||
                          static_cast<unsigned char>(lead - 0xE0) <= 0xFC - 0xE0;
            if (!isLead || at + 1 == size) {
                latin += analysis::isLetterByte(static_cast<char>(lead)) ? 1 : 0;
                ++at;
                continue;
            }
            unsigned char trail = bytes[at + 1];
            // Counted without branches: kana and kanji come mixed.
            bool isKana = (lead == 0x82 && trail >= 0x9F) || (lead == 0x83 && trail <= 0x96);
            kana += isKana ? 1 : 0;
            han += !isKana && lead >= 0x88 ? 1 : 0;
            at += 2;
        }
        return;
    }
    for (std::size_t at = 0; at < text.size();) {
        std::size_t size = analysis::characterSize(text, at, encoding);
        auto lead = static_cast<unsigned char>(text[at]);
        auto trail = size > 1 ? static_cast<unsigned char>(text[at + 1]) : 0;
        if (size == 1) {
            latin += analysis::isLetterByte(text[at]) ? 1 : 0;
        } else if constexpr (encoding == input::Encoding::UTF8) {
            bool isKana = lead == 0xE3 && (trail == 0x81 || trail == 0x82 || trail == 0x83);
            bool isHan = lead >= 0xE4 && lead <= 0xE9;
            kana += isKana ? 1 : 0;
            han += isHan ? 1 : 0;
        } else {
            bool isKana = lead == 0xA4 || lead == 0xA5;
            (isKana ? kana : han) += 1;
        }
        at += size;
    }
}

}  // namespace

std::string languageOf(const Model& model, std::uint32_t file) {
    const input::SourceFile& source = model.files[file];
    std::size_t kana = 0, han = 0, latin = 0;
    const analysis::FileInfo& info = model.fileInfo[file];
    // The first few thousand characters of text tell, within the first lines.
    std::uint32_t lines = std::min<std::uint32_t>(info.lineCount, 50000);
    for (std::uint32_t line = 0; line < lines && kana + han + latin < 20000; ++line) {
        std::uint32_t global = info.firstLine + line;
        if (model.lines[global].kind != analysis::LineKind::Text) continue;
        std::string_view text = model.lineText(file, line);
        switch (source.encoding) {
            case input::Encoding::CP932: countScripts<input::Encoding::CP932>(text, kana, han, latin); break;
            case input::Encoding::UTF8: countScripts<input::Encoding::UTF8>(text, kana, han, latin); break;
            case input::Encoding::GBK: countScripts<input::Encoding::GBK>(text, kana, han, latin); break;
        }
    }
    if (kana * 10 >= han && kana > 0 && kana * 4 >= latin / 10) return "ja";
    if (han > 0 && han * 4 >= latin / 10) return kana > 0 ? "ja" : "zh";
    if (latin > 0) return "en";
    return "ja";
}

}  // namespace writers::html5
