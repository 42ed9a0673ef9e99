#include "write/html5/front_page.h"

#include <charconv>
#include <cstring>
#include <filesystem>

#include "analysis/characters.h"
#include "html5.h"
#include "nscr/byte_buffer.h"
#include "write/html5/page_out.h"
#include "write/html5/markup.h"
#include "write/html5/reading_page.h"

namespace writers::html5 {

namespace {

using ::html5::appendEscaped;
using ::html5::escaped;

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void writeFiles(PageOut& page, const analysis::Model& model, const PageLayout& layout, const std::string& path) {
    page += "<h2>Files in the engine's order</h2>\n<table class=\"files\">\n"
            "<tr><th>file</th><th>encoding</th><th>bytes</th><th>lines</th><th>engine lines</th></tr>\n";
    for (std::uint32_t file = 0; file < model.files.size(); ++file) {
        const analysis::FileInfo& info = model.fileInfo[file];
        std::size_t first = layout.partsOfFile(file).first;
        page += "<tr><td><a href=\"" + relativeHref(path, layout.parts()[first].path, "") + "\">";
        appendEscaped(page, model.files[file].name);
        page += "</a></td><td>" + std::string(input::encodingName(model.files[file].encoding)) + "</td><td>" +
                std::to_string(model.files[file].bytes.size()) + "</td><td>" + std::to_string(info.lineCount) +
                "</td><td>" + std::to_string(info.firstEngineLine) + "\xE2\x80\x93" +
                std::to_string(info.firstEngineLine + info.lineCount) + "</td></tr>\n";
    }
    page += "</table>\n";
}

void writeNotRead(PageOut& page, const std::vector<input::SkippedFile>& notRead) {
    if (notRead.empty()) return;
    page += "<h2>Files the engine does not read</h2>\n<ul class=\"skipped\">\n";
    for (const input::SkippedFile& skipped : notRead) {
        page += "<li><b>";
        appendEscaped(page, skipped.name);
        page += "</b>: ";
        appendEscaped(page, skipped.reason);
        page += "</li>\n";
    }
    page += "</ul>\n";
}

constexpr std::size_t labelsPerList = 1000;

// Links from the front page to each part's page, worked out once.
std::vector<std::string> partHrefs(const PageLayout& layout, const std::string& path) {
    std::vector<std::string> hrefs;
    std::filesystem::path from = absoluteNormal(path);
    for (std::size_t k = 0; k < layout.parts().size(); ++k) hrefs.push_back(relativeHref(from, layout.absolutePath(k), ""));
    return hrefs;
}

// The checks' findings, each linked to its line; the first thousand.
void writeFindings(PageOut& page, const analysis::Model& model, const PageLayout& layout, const std::string& path,
                   const std::vector<analysis::Finding>* findings) {
    if (findings == nullptr || findings->empty()) return;
    std::vector<std::string> hrefs = partHrefs(layout, path);
    constexpr std::size_t listed = 1000;
    page += "<h2>Findings (" + std::to_string(findings->size()) + ")</h2>\n<ol class=\"findings\">\n";
    for (std::size_t k = 0; k < findings->size() && k < listed; ++k) {
        const analysis::Finding& finding = (*findings)[k];
        std::size_t part = layout.partOf(finding.pos.file, finding.pos.line);
        page += "<li><a href=\"" + hrefs[part] + "#L" + std::to_string(finding.pos.line + 1) + "\">";
        appendEscaped(page, model.files[finding.pos.file].name);
        page += ':';
        page += std::to_string(finding.pos.line + 1);
        page += "</a> ";
        appendEscaped(page, utf8Of(finding.message, model.files[finding.pos.file].encoding));
        page += " <span class=\"ln\">";
        appendEscaped(page, finding.id);
        page += "</span></li>\n";
    }
    page += "</ol>\n";
    if (findings->size() > listed)
        page += "<p>" + std::to_string(findings->size() - listed) + " more: run hibarune -check for the whole list.</p>\n";
}

// "l-name" (the name in lower case, "-2" on for a later definition) as a
// link's fragment, for a name with bytes that are escaped or encoded.
std::string labelFragment(std::string_view name, std::uint32_t ordinal) {
    std::string id = "l-";
    for (char c : name) id += analysis::lowerByte(c);
    if (ordinal > 1) {
        id += '-';
        id += std::to_string(ordinal);
    }
    return escaped(::html5::hrefOfFile(id));
}

char* writeBytes(char* out, std::string_view bytes) {
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
}

// A label's entry: "<li><a href="PAGE#l-name">*name</a> FILE:LINE</li>",
// opening and place made before for its page and file. Written at out,
// which has entryRoom bytes; gives the entry's end.
char* writeLabelEntry(char* out, std::string_view opening, std::string_view name, std::uint32_t ordinal,
                      std::string_view place, std::uint32_t line) {
    out = writeBytes(out, opening);
    if (::html5::isPlainInUrl(name)) {
        // Nearly every name: no byte of it is escaped or encoded.
        out = writeBytes(out, "l-");
        for (char c : name) *out++ = analysis::lowerByte(c);
        if (ordinal > 1) {
            *out++ = '-';
            out = std::to_chars(out, out + 10, ordinal).ptr;
        }
        out = writeBytes(out, "\">*");
        out = writeBytes(out, name);
    } else {
        out = writeBytes(out, labelFragment(name, ordinal));
        out = writeBytes(out, "\">*");
        out = writeBytes(out, escaped(name));
    }
    out = writeBytes(out, place);
    out = std::to_chars(out, out + 10, line).ptr;
    return writeBytes(out, "</li>\n");
}

std::size_t entryRoom(std::string_view opening, std::string_view name, std::string_view place) {
    return opening.size() + place.size() + 16 * name.size() + 64;
}

// Every label, with the engine line of its definition for the "go to" box.
void writeLabels(PageOut& page, const analysis::Model& model, const PageLayout& layout, const std::string& path) {
    std::vector<std::string> openings = partHrefs(layout, path);  // "<li><a href="PAGE#" for each part
    for (std::string& href : openings) href = "<li><a href=\"" + href + "#";
    std::vector<std::string> places;  // "</a> FILE:" for each file
    for (const input::SourceFile& file : model.files) places.push_back("</a> " + escaped(file.name) + ":");
    std::size_t labels = 0;
    for (const analysis::Symbol& symbol : model.symbols) labels += symbol.kind == analysis::SymbolKind::Label ? 1 : 0;
    page += "<h2>Labels (" + std::to_string(labels) + ")</h2>\n"
            "<input id=\"filter\" type=\"search\" placeholder=\"filter labels\" autocomplete=\"off\">\n<div id=\"labels\">\n";
    // Lists of a thousand labels that the browser lays out only when seen;
    // each label is a link and its place as text, no more. A game has tens
    // of thousands: each is written in one go, from pieces made before.
    std::size_t listed = 0;
    // Each label's line and name are fetched a few labels ahead: they stand
    // far apart in memory.
    constexpr std::size_t ahead = 16;
    const std::size_t count = model.symbols.size();
    for (std::size_t k = 0; k < count; ++k) {
        if (k + ahead < count) model.fetchLine(model.symbols[k + ahead].pos);
        if (k + ahead / 2 < count) model.fetchBytes(model.symbols[k + ahead / 2].pos);
        const analysis::Symbol& symbol = model.symbols[k];
        if (symbol.kind != analysis::SymbolKind::Label) continue;
        if (listed % labelsPerList == 0) {
            if (listed != 0) page += "</ol>\n";
            std::size_t left = std::min(labelsPerList, labels - listed);
            page += "<ol start=\"" + std::to_string(listed + 1) + "\"";
            if (left != labelsPerList) page += " style=\"contain-intrinsic-size:auto " + std::to_string(left * 3 / 2) + "em\"";
            page += ">\n";
        }
        ++listed;
        std::string_view name = model.nameOf(symbol);
        const std::string& opening = openings[layout.partOf(symbol.pos.file, symbol.pos.line)];
        const std::string& place = places[symbol.pos.file];
        char* room = page.room(entryRoom(opening, name, place));
        page.commit(writeLabelEntry(room, opening, name, symbol.ordinal, place, symbol.pos.line + 1));
    }
    if (listed != 0) page += "</ol>\n";
    page += "</div>\n";
}

// About the bytes a front page takes: mostly its list of labels.
std::size_t roomFor(const analysis::Model& model, const FrontPage& front) {
    std::size_t labels = 0;
    for (const analysis::Symbol& symbol : model.symbols) labels += symbol.kind == analysis::SymbolKind::Label ? 1 : 0;
    std::size_t findings = front.findings == nullptr ? 0 : std::min<std::size_t>(front.findings->size(), 1000);
    return 65536 + 96 * labels + 256 * (model.files.size() + front.notRead.size() + findings);
}

// The files with their engine lines and parts, for the "go to" box.
std::string placeTable(const analysis::Model& model, const PageLayout& layout, const std::string& path) {
    std::string table = "[";
    for (std::uint32_t file = 0; file < model.files.size(); ++file) {
        if (file != 0) table += ',';
        table += '[';
        appendJsonString(table, model.files[file].name);
        table += ',';
        table += std::to_string(model.fileInfo[file].firstEngineLine) + "," +
                 std::to_string(model.fileInfo[file].lineCount) + ",[";
        auto [first, last] = layout.partsOfFile(file);
        for (std::size_t k = first; k < last; ++k) {
            if (k != first) table += ',';
            table += '[';
            table += std::to_string(layout.parts()[k].firstLine + 1);
            table += ",\"";
            table += relativeHref(path, layout.parts()[k].path, "");
            table += "\"]";
        }
        table += "]]";
    }
    return table + "]";
}

constexpr const char* frontScript = R"(<script>
(function(){
var files=FILES;
function pageOf(f,line){var p=f[3],h=p[0][1];for(var i=0;i<p.length;i++)if(line>=p[i][0])h=p[i][1];return h+"#L"+line}
function atEngineLine(n){for(var i=files.length-1;i>=0;i--)if(n>=files[i][1]){var l=n-files[i][1]+1;return l<=files[i][2]?pageOf(files[i],l):null}return null}
function engineLine(place){var m=/^(.*):(\d+)$/.exec(place);if(!m)return null;
for(var i=0;i<files.length;i++)if(files[i][0]===m[1])return files[i][1]+(+m[2])-1;return null}
function labelLine(name){var items=document.querySelectorAll("#labels li");name=name.toLowerCase();
for(var i=0;i<items.length;i++){var a=items[i].firstChild;if(a.textContent.slice(1).toLowerCase()===name)return engineLine(items[i].lastChild.textContent.trim())}return null}
function target(q){q=q.trim();var m;
if(m=/^(?:line\s*)?(\d+)$/.exec(q))return atEngineLine(+m[1]);
if(m=/^\*?(\w+)(?::(\d+))?$/.exec(q)){var e=labelLine(m[1]);return e===null?null:atEngineLine(e+(+(m[2]||0)))}
if(m=/^(.+):(\d+)$/.exec(q)){for(var i=0;i<files.length;i++)if(files[i][0]===m[1])return pageOf(files[i],+m[2])}
return null}
var go=document.getElementById("go");
go.addEventListener("submit",function(e){e.preventDefault();var t=target(go.place.value);
document.getElementById("nowhere").hidden=!!t;if(t)location.href=t});
var filter=document.getElementById("filter"),timer;
filter.addEventListener("input",function(){clearTimeout(timer);timer=setTimeout(function(){
var q=filter.value.toLowerCase(),items=document.querySelectorAll("#labels li");
for(var i=0;i<items.length;i++){var a=items[i].firstChild.textContent.toLowerCase();items[i].hidden=q!==""&&a.indexOf(q)<0}},60)});
})();
</script>
)";

}  // namespace

std::string_view writeFrontPage(const analysis::Model& model, const PageLayout& layout, const FrontPage& front,
                                const std::string& path, nscr::ByteBuffer& buffer) {
    PageOut page(buffer);
    // A game's front page runs to megabytes: its room is taken at once.
    page.reserve(roomFor(model, front));
    page += pageHead(front.title, "en", false);
    page += "<main class=\"front\">\n<h1>";
    appendEscaped(page, front.title);
    page += "</h1>\n<p>" + count(model.files.size(), "file", "files") + ", " +
            count(model.lines.size(), "line", "lines") + ".</p>\n";
    page += "<form id=\"go\"><label>Go to <input name=\"place\" size=\"24\" placeholder=\"7425, *label:12, 0.txt:40\">"
            "</label> <button>Open</button> <span id=\"nowhere\" hidden>no such place</span></form>\n";
    writeFiles(page, model, layout, path);
    writeNotRead(page, front.notRead);
    writeFindings(page, model, layout, path, front.findings);
    writeLabels(page, model, layout, path);
    page += "</main>\n";
    std::string script = frontScript;
    script.replace(script.find("FILES"), 5, placeTable(model, layout, path));
    page += script;
    page += "</body>\n</html>\n";
    return page.page();
}

std::string frontPage(const analysis::Model& model, const PageLayout& layout, const FrontPage& front,
                      const std::string& path) {
    nscr::ByteBuffer buffer;
    return std::string(writeFrontPage(model, layout, front, path, buffer));
}

}  // namespace writers::html5
