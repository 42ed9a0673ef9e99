#include "write/html5/markup.h"

#include <array>

#include "html5.h"

namespace writers::html5 {

namespace {

using nscr::TokenType;

void addRule(std::string& sheet, std::string_view selector, std::string_view declarations) {
    sheet += selector;
    sheet += '{';
    sheet += declarations;
    sheet += "}\n";
}

// Lines are inline blocks in blocks of lines that the browser lays out only
// when they come near the screen; the numbers are counters, never copied.
void addLayoutRules(std::string& sheet, bool lineNumbers) {
    addRule(sheet, ":root", "color-scheme:light dark");
    addRule(sheet, "body", "margin:0;font-family:system-ui,sans-serif");
    addRule(sheet, ".code", "padding:.5em 2ch");
    addRule(sheet, ".b",
            "margin:0;font:.875rem/1.5 ui-monospace,\"Noto Sans Mono CJK JP\",Menlo,Consolas,monospace;"
            "white-space:pre-wrap;overflow-wrap:anywhere;tab-size:8;content-visibility:auto;"
            "contain-intrinsic-size:auto 384em");
    std::string line = "display:inline-block;vertical-align:top;width:100%;min-height:1.5em;scroll-margin-top:3em";
    if (lineNumbers) line += ";box-sizing:border-box;padding-left:7ch;counter-increment:n";
    addRule(sheet, ".b>span", line);
    if (lineNumbers)
        addRule(sheet, ".b>span::before",
                "content:counter(n);display:inline-block;min-width:6ch;margin:0 1ch 0 -7ch;text-align:right;"
                "cursor:pointer;user-select:none;-webkit-user-select:none");
    addRule(sheet, ".code a", "text-decoration:none");
    addRule(sheet, ".code [id]", "scroll-margin-top:3em");
    addRule(sheet, ".code a[href]:hover", "text-decoration:underline");
    addRule(sheet, ".gl[href],.uc[href],.al[href],.j[href]", "text-decoration:underline dotted;text-underline-offset:.2em");
    addRule(sheet, ".u,.uk,.fd", "text-decoration:underline wavy;text-underline-offset:.2em");
    addRule(sheet, ".uk", "font-style:italic");
    addRule(sheet, ".refs",
            "margin-left:2ch;font:.75rem system-ui,sans-serif;user-select:none;-webkit-user-select:none");
    addRule(sheet, ".refs a", "margin-left:.5ch");
    addRule(sheet, ".refs.none::before", "content:\"no references\"");
    addRule(sheet, ".unfold", "margin-left:.5ch;font:inherit;cursor:pointer");
    addRule(sheet, ".bar", "position:sticky;top:0;z-index:1;padding:.25em 2ch;font-size:.875rem;border-bottom:1px solid");
    addRule(sheet, ".bar a", "text-decoration:none");
    addRule(sheet, ".bar a:hover", "text-decoration:underline");
    addRule(sheet, ".parts", "margin-left:2ch");
    addRule(sheet, ".idx", "margin:.5em 2ch");
    addRule(sheet, "#labels ol", "margin:0;line-height:1.5;content-visibility:auto;contain-intrinsic-size:auto 1500em");
    addRule(sheet, ".idx summary", "cursor:pointer;font-weight:bold");
    addRule(sheet, ".idx ol", "margin:.25em 0;columns:16em");
    addRule(sheet, ".idx a", "text-decoration:none");
    addRule(sheet, ".ln", "margin-left:.75em;font-size:.85em");
    addRule(sheet, "@media print", ".b{content-visibility:visible}.bar,.idx,.refs{display:none}");
}

// Colours of the kinds the old token types have none for, each 4.5:1 or
// more against both backgrounds of its scheme.
void addAnalysisColours(std::string& sheet) {
    addRule(sheet, ".bar", "background:#fcfcfa;border-color:#d0d4d9");
    addRule(sheet, ".b>span:target", "background:#fff6cc");
    addRule(sheet, ".b>span:has(:target)", "background:#fff6cc");
    addRule(sheet, ".uc", "color:#006d6d;font-weight:bold");
    addRule(sheet, ".uk", "color:#b3261e");
    addRule(sheet, ".al,.ad", "color:#5b3cc4");
    addRule(sheet, ".dy", "color:#8000ff");
    addRule(sheet, ".refs,.refs.none", "color:#5c6570");
    addRule(sheet, ".u,.fd", "text-decoration-color:#b3261e");
    sheet += "@media (prefers-color-scheme: dark){\n";
    addRule(sheet, ".bar", "background:#1c1e22;border-color:#3a3f47");
    addRule(sheet, ".b>span:target", "background:#3a3420");
    addRule(sheet, ".b>span:has(:target)", "background:#3a3420");
    addRule(sheet, ".uc", "color:#5fd3c9");
    addRule(sheet, ".uk", "color:#ff8a80");
    addRule(sheet, ".al,.ad", "color:#b9a3ff");
    addRule(sheet, ".dy", "color:#c58cff");
    addRule(sheet, ".refs,.refs.none", "color:#9aa1aa");
    addRule(sheet, ".u,.fd", "text-decoration-color:#ff8a80");
    sheet += "}\n";
}

// Asked for every piece of a page: worked out once a run, after color.txt
// is read.
std::string_view classIfColoured(TokenType type) {
    static const std::array<std::string_view, nscr::tokenTypeCount> classes = [] {
        std::array<std::string_view, nscr::tokenTypeCount> all;
        for (int k = 0; k < nscr::tokenTypeCount; ++k) {
            auto each = static_cast<TokenType>(k);
            all[static_cast<std::size_t>(k)] = ::html5::hasBodyColour(each) ? std::string_view() : ::html5::className(each);
        }
        return all;
    }();
    return classes[static_cast<std::size_t>(type)];
}

}  // namespace

std::string pageHead(std::string_view title, std::string_view lang, bool lineNumbers) {
    std::string head = "<!DOCTYPE html>\n<html lang=\"" + ::html5::escaped(lang) +
                       "\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                       ::html5::escaped(title) + "</title>\n<style>\n";
    addLayoutRules(head, lineNumbers);
    head += ::html5::colourRules();
    addAnalysisColours(head);
    head += "</style>\n</head>\n<body>\n";
    return head;
}

std::string_view classOf(analysis::SpanKind kind) {
    using analysis::SpanKind;
    switch (kind) {
        case SpanKind::Comment: return classIfColoured(TokenType::COMMENT);
        case SpanKind::LabelDef: return classIfColoured(TokenType::LINETOP_LABEL);
        case SpanKind::LabelRef: return classIfColoured(TokenType::GENERIC_LABEL);
        case SpanKind::String: return classIfColoured(TokenType::LITERAL);
        case SpanKind::Number: return classIfColoured(TokenType::NUMBER);
        case SpanKind::NumVar: return classIfColoured(TokenType::NUMBER_VARIABLE);
        case SpanKind::StrVar: return classIfColoured(TokenType::STRING_VARIABLE);
        case SpanKind::ArrayVar: return classIfColoured(TokenType::ARRAY_VARIABLE);
        case SpanKind::Color: return classIfColoured(TokenType::COLOR);
        case SpanKind::Text: return classIfColoured(TokenType::STRING);
        case SpanKind::TextCode:
        case SpanKind::JumpTarget: return classIfColoured(TokenType::SPECIAL_CHARACTER);
        case SpanKind::Ruby: return classIfColoured(TokenType::RUBY);
        case SpanKind::TextButton: return classIfColoured(TokenType::TEXT_BUTTON);
        case SpanKind::Tag: return classIfColoured(TokenType::TAG);
        case SpanKind::Word: return classIfColoured(TokenType::SYMBOL);
        default: return classIfColoured(TokenType::COMMON_COMMAND);
    }
}

std::string_view commandClass(std::uint32_t block) {
    switch (block) {
        case static_cast<std::uint32_t>(analysis::CommandSet::Block::Definition):
            return classIfColoured(TokenType::DEFINE_COMMAND);
        case static_cast<std::uint32_t>(analysis::CommandSet::Block::Program):
            return classIfColoured(TokenType::EXECUTE_COMMAND);
        default: return classIfColoured(TokenType::COMMON_COMMAND);
    }
}

void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '<': out += "\\u003c"; break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20) out += c;
        }
    }
    out += '"';
}

std::string pageScript(const std::string& partTable) {
    // A click on a line's number puts the line in the address; "+N more"
    // unfolds a label's references; a line of another part is looked for
    // on that part's page.
    std::string script =
        "<script>\n"
        "document.addEventListener(\"click\",function(e){var t=e.target;"
        "if(t.classList&&t.classList.contains(\"unfold\")){t.nextElementSibling.hidden=false;t.remove();return}"
        "if(t.parentNode&&t.parentNode.classList&&t.parentNode.classList.contains(\"b\")&&e.clientX-t.getBoundingClientRect().left<"
        "parseFloat(getComputedStyle(t).paddingLeft))location.hash=t.id});\n"
        "var tips=document.getElementById(\"tips\");tips=tips?JSON.parse(tips.textContent):{};"
        "document.addEventListener(\"mouseover\",function(e){var t=e.target;if(!t.classList||t.title)return;"
        "var k=t.classList.contains(\"al\")?t.hash.slice(1):t.classList.contains(\"uc\")?\"u-\"+t.textContent.toLowerCase():"
        "t.classList.contains(\"dup\")?t.id.replace(/-\\d+$/,\"\"):\"\";"
        "if(k&&tips[k])t.title=tips[k]});\n";
    if (!partTable.empty())
        script += "(function(){var p=" + partTable +
                  ";function go(){var m=/^#L(\\d+)$/.exec(location.hash);if(!m||document.getElementById(\"L\"+m[1]))return;"
                  "var n=+m[1];for(var i=0;i<p.length;i++)if(n>=p[i][0]&&n<=p[i][1]){location.replace(p[i][2]+location.hash);return}}"
                  "go();addEventListener(\"hashchange\",go)})();\n";
    script += "</script>\n";
    return script;
}

}  // namespace writers::html5
