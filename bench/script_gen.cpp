#include <algorithm>
#include <unordered_map>
#include "script_gen.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <iconv.h>
#include <stdexcept>
#include <vector>

namespace scriptgen {
namespace {

// ---- Japanese text, converted once -----------------------------------------

std::string toCp932(std::string_view utf8) {
    iconv_t descriptor = ::iconv_open("CP932", "UTF-8");
    if (descriptor == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open CP932 failed");
    std::string out(utf8.size(), '\0');  // CP932 is never longer than UTF-8
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* put = out.data();
    std::size_t outLeft = out.size();
    std::size_t result = ::iconv(descriptor, &in, &inLeft, &put, &outLeft);
    ::iconv_close(descriptor);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0)
        throw std::runtime_error("cannot convert to CP932: " + std::string(utf8));
    out.resize(out.size() - outLeft);
    return out;
}

std::vector<std::string> toCp932(std::initializer_list<std::string_view> phrases) {
    std::vector<std::string> out;
    for (std::string_view phrase : phrases) out.push_back(toCp932(phrase));
    return out;
}

struct Phrases {
    std::vector<std::string> narration = toCp932({
        "四月の朝、わたしは長い坂道を上っていた",
        "風に乗って、どこからか花びらが舞ってくる",
        "古い扉がきしむ音がした",
        "窓の外では雨が降り続いている",
        "遠くで鐘の音が響いた",
        "机の上には読みかけの本が置かれていた",
        "彼女は小さくうなずいた",
        "廊下の向こうから足音が近づいてくる",
        "夕焼けが町を赤く染めていた",
        "ページをめくる指が止まる",
        "誰もいない教室は静まり返っていた",
        "胸の奥がざわついた",
        "その言葉の意味を、わたしはまだ知らなかった",
        "時計の針は午後三時を指している",
        "図書館の中はひんやりとしていた",
        "棚の一角に、見覚えのない背表紙があった",
        "波の音だけが聞こえる",
        "夜空に星がひとつ流れた",
        "彼は何も言わずに背を向けた",
        "手紙には短い一行だけが書かれていた",
        "駅前の商店街はいつもより賑やかだった",
        "ふと、懐かしい匂いがした",
        "階段を駆け下りる",
        "雪が静かに降り積もっていく",
        "扉の向こうに誰かがいる気配がする",
        "ランプの灯りが揺れた",
        "息を止めて、耳を澄ませる",
        "カウンターの奥で、司書さんが顔を上げる",
        "机に積まれた本の山が、今にも崩れそうだった",
        "冷たい風が頬をなでていく",
    });
    std::vector<std::string> dialogue = toCp932({
        "今日こそ、あの図書館に入ってみよう",
        "いらっしゃい。初めての方ね",
        "……よし",
        "ちょっと待って！",
        "それ、本当なの？",
        "ごめんなさい、遅くなっちゃった",
        "また明日ね",
        "どうしてここに？",
        "ありがとう。助かったよ",
        "ねえ、聞いてる？",
        "この本、借りてもいいですか",
        "静かにしてください。ここは図書館ですよ",
        "わたし、ずっと探していたんです",
        "嘘……信じられない",
        "もう一度だけ、話を聞かせて",
    });
    std::vector<std::string> names = toCp932({"遥", "司書", "美咲", "健太", "先生", "母", "少女", "老人"});
    // Base text and reading of each ruby group.
    std::vector<std::string> rubyBases =
        toCp932({"坂道", "司書", "桜", "黄昏", "硝子", "海原", "薔薇", "時雨", "蜃気楼", "灯台"});
    std::vector<std::string> rubyReadings =
        toCp932({"さかみち", "ししょ", "さくら", "たそがれ", "がらす", "うなばら", "ばら", "しぐれ", "しんきろう", "とうだい"});
    std::vector<std::string> choices = toCp932({"扉を開ける", "引き返す", "話しかける", "黙っている", "本を手に取る",
                                                "窓の外を見る", "図書館へ行く", "家に帰る"});
    std::vector<std::string> comments = toCp932({"――場面転換", "ここから第二章", "立ち絵の表示", "効果音",
                                                 "選択肢", "変数の初期化", "背景を変える", "少し待つ"});
    // Pieces glued between phrases of a message line.
    std::string comma = toCp932("、");
    std::string period = toCp932("。");
    std::string openQuote = toCp932("「");
    std::string closeQuote = toCp932("」");
    std::string ideographicSpace = toCp932("　");
    std::string counter = toCp932("回目");
    std::string topic = toCp932("は");
    std::string title = toCp932("第一章　坂の上の図書館");
    std::string filler = toCp932("あ");
};

const Phrases& phrases() {
    static const Phrases instance;
    return instance;
}

// ---- Seeded choices ------------------------------------------------------

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    // splitmix64: fast, and the same sequence on every platform.
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    bool percent(unsigned p) { return below(100) < p; }
    int between(int low, int high) { return low + static_cast<int>(below(static_cast<std::size_t>(high - low + 1))); }
    template <typename T>
    const T& pick(const std::vector<T>& items) {
        return items[below(items.size())];
    }

private:
    std::uint64_t state_;
};

std::string number(long value) { return std::to_string(value); }

std::string padded(int value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return digits;
}

const std::vector<std::string> numberVariables = {"%0", "%1", "%2", "%10", "%visits", "%curious", "%res", "%?3"};
const std::vector<std::string> stringVariables = {"$name", "$tmp", "$0", "$%1"};
const std::vector<std::string> speedControls = {"!s0", "!s30", "!sd", "!d300"};
const std::vector<std::string> waitControls = {"!w500", "!w200", "!d800"};

// ---- Lines ---------------------------------------------------------------

// Writes the lines of scenes: a label, some commands, a block of message
// text, sometimes a choice or some arithmetic, then a jump.
class ScriptWriter {
public:
    explicit ScriptWriter(std::uint64_t seed) : random_(seed) {}

    // Message text: phrases with ruby, variables and text controls, ending in
    // a click wait, a page wait, or nothing. Never starts with ";" and never
    // ends with a variable, so that such lines may also be joined.
    std::string messageLine() {
        const Phrases& p = phrases();
        std::string line;
        bool spoken = random_.percent(40);
        if (spoken) {
            if (random_.percent(60)) {
                line += '[';
                line += random_.pick(p.names);
                line += ']';
            }
            line += p.openQuote;
        }
        if (random_.percent(12)) line += random_.pick(speedControls);
        int pieces = random_.between(1, 3);
        for (int i = 0; i < pieces; ++i) {
            if (i > 0) line += random_.percent(50) ? p.comma : p.ideographicSpace;
            unsigned roll = static_cast<unsigned>(random_.below(100));
            if (roll < 12) {
                std::size_t k = random_.below(p.rubyBases.size());
                line += '(';
                line += p.rubyBases[k];
                line += '/';
                line += p.rubyReadings[k];
                line += ')';
            } else if (roll < 18) {
                line += random_.pick(stringVariables);
                line += p.topic;
            } else if (roll < 22) {
                line += random_.pick(numberVariables);
                line += p.counter;
            }
            line += random_.pick(spoken ? p.dialogue : p.narration);
            if (random_.percent(8)) line += random_.pick(waitControls);
        }
        if (spoken) {
            line += p.closeQuote;
        } else {
            line += p.period;
        }
        unsigned end = static_cast<unsigned>(random_.below(100));
        if (end < 45) {
            line += '@';
        } else if (end < 80) {
            line += '\\';
        } else if (end < 85) {
            line += '/';
        }
        return line;
    }

    // Appends the next scene's lines to lines.
    void scene(std::vector<std::string>& lines) {
        const Phrases& p = phrases();
        int id = ++sceneCount_;
        if (random_.percent(60)) lines.emplace_back();
        if (random_.percent(50)) lines.push_back(";" + random_.pick(p.comments) + " " + padded(id, 4));
        if (random_.percent(15)) {
            subroutine(lines, id);
            return;
        }
        lines.push_back("*scene" + padded(id, 4));
        int commandCount = random_.between(1, 4);
        for (int i = 0; i < commandCount; ++i) lines.push_back(command());
        int paragraphs = random_.between(1, 3);
        for (int i = 0; i < paragraphs; ++i) {
            int length = random_.between(2, 6);
            for (int j = 0; j < length; ++j) lines.push_back(messageLine());
            if (random_.percent(40)) lines.push_back(random_.percent(50) ? "@" : "\\");
            if (random_.percent(50)) lines.emplace_back();
            if (random_.percent(30)) lines.push_back(command());
        }
        unsigned roll = static_cast<unsigned>(random_.below(100));
        if (roll < 15) {
            textButtons(lines, id);
        } else if (roll < 30) {
            select(lines, id);
        } else if (roll < 45) {
            arithmetic(lines);
        }
        if (random_.percent(50)) lines.push_back("goto *scene" + padded(id + 1, 4));
    }

    std::vector<std::string> preamble() {
        const Phrases& p = phrases();
        return {
            ";mode800",
            "*define",
            "caption \"" + p.title + "\"",
            "numalias visits,10",
            "numalias curious,11\t;" + random_.pick(p.comments),
            "stralias bg_slope,\"image\\slope.jpg\"",
            "dim ?books[3]",
            "lookbackcolor #ffcc66",
            "defsub chapter",
            "game",
            "",
            "*start",
            "setwindow 32,400,22,4,24,24,0,2,20,1,1,#203040,16,384,784,584",
            "rubyon",
            "mov $name,\"" + p.names[0] + "\"",
            "mov %curious,0 : mov %visits,1",
            "goto *scene0001",
        };
    }

private:
    std::string command() {
        const Phrases& p = phrases();
        std::string line;
        switch (random_.below(16)) {
            case 0: line = "bg \"image\\bg" + padded(random_.between(1, 60), 2) + ".jpg\"," + number(random_.between(1, 10)); break;
            case 1:
                line = "ld " + std::string(1, "lcr"[random_.below(3)]) + ",\":a;image\\ch" +
                       padded(random_.between(1, 30), 2) + ".png\"," + number(random_.between(1, 3));
                break;
            case 2: line = "cl a," + number(random_.between(1, 3)); break;
            case 3: line = "print " + number(random_.between(1, 10)); break;
            case 4: line = "wait " + number(random_.between(1, 20) * 100); break;
            case 5: line = "dwave 1,\"se\\se" + padded(random_.between(1, 40), 2) + ".wav\""; break;
            case 6: line = "mp3loop \"bgm\\m" + padded(random_.between(1, 20), 2) + ".mp3\""; break;
            case 7: line = "gosub *sub" + padded(random_.between(1, sceneCount_), 4); break;
            case 8: line = "mov " + random_.pick(numberVariables) + "," + number(random_.between(0, 100)); break;
            case 9: line = "add %visits,1"; break;
            case 10: line = "if %visits>=" + number(random_.between(2, 9)) + " goto *scene" + padded(sceneCount_ + 2, 4); break;
            case 11: line = "textclear"; break;
            case 12: line = "quakey " + number(random_.between(1, 5)) + "," + number(random_.between(1, 5) * 100); break;
            case 13:
                line = "lsp " + number(random_.between(1, 20)) + ",\":s/20,20,0;#ffffff" + random_.pick(p.choices) +
                       "\"," + number(random_.between(0, 600)) + "," + number(random_.between(0, 400));
                break;
            case 14: line = "delay " + number(random_.between(1, 30) * 100); break;
            default: line = "inc %curious"; break;
        }
        if (random_.percent(10)) line += "\t;" + random_.pick(p.comments);
        return line;
    }

    void subroutine(std::vector<std::string>& lines, int id) {
        lines.push_back("*sub" + padded(id, 4));
        lines.push_back("\tmov $tmp,\":c;\"");
        lines.push_back("\tadd $tmp,\"image\\ch" + padded(random_.between(1, 30), 2) + ".png\"");
        lines.push_back("\trnd2 %2,1,4");
        lines.push_back("\tif %2 == 1 && %0 != 2 mov %1,(%0+1)*2");
        lines.push_back("\tlsp 510,$tmp,0,0 : print " + number(random_.between(1, 10)));
        lines.push_back("\tfor %3=0 to " + number(random_.between(2, 9)));
        lines.push_back("\t\tmov ?books[%3],%3");
        lines.push_back("\tnext");
        lines.push_back("\treturn");
    }

    void textButtons(std::vector<std::string>& lines, int id) {
        const Phrases& p = phrases();
        int count = random_.between(2, 3);
        std::string line;
        for (int i = 1; i <= count; ++i) {
            if (i > 1) line += p.ideographicSpace;
            line += '<';
            line += number(i);
            line += random_.pick(p.choices);
            line += '>';
        }
        lines.push_back(line);
        lines.push_back("textbtnwait %res");
        for (int i = 1; i <= count; ++i)
            lines.push_back("if %res == " + number(i) + " goto *scene" + padded(id + i, 4));
    }

    void select(std::vector<std::string>& lines, int id) {
        const Phrases& p = phrases();
        lines.push_back("select \"" + random_.pick(p.choices) + "\",*scene" + padded(id + 1, 4) + ",\"" +
                        random_.pick(p.choices) + "\",*scene" + padded(id + 2, 4));
    }

    void arithmetic(std::vector<std::string>& lines) {
        lines.push_back("mov %0," + number(random_.between(0, 9)) + " : add %0,%visits");
        lines.push_back("itoa $tmp,%0");
        lines.push_back("if %0<10 sub %curious,1");
        lines.push_back("notif $name == \"" + phrases().names[0] + "\" gosub *sub" + padded(random_.between(1, sceneCount_), 4));
    }

    Random random_;
    int sceneCount_ = 0;
};

// ---- Exact sizes ---------------------------------------------------------

// Fills out up to size with comment lines, the last one ending exactly at
// size (a lone ";" or an empty line when only 1 or 2 bytes are left).
void padWithComments(std::string& out, std::size_t size) {
    while (out.size() < size) {
        std::size_t left = size - out.size();
        if (left < 3) {
            out += left == 1 ? ";" : "\r\n";
            return;
        }
        std::size_t length = std::min<std::size_t>(left, 100);
        if (left - length > 0 && left - length < 3) length = left - 3;
        out += ';';
        out.append(length - 3, '-');
        out += "\r\n";
    }
}

std::string realisticScript(std::size_t size, std::uint64_t seed) {
    ScriptWriter writer(seed);
    std::string out;
    out.reserve(size);
    std::vector<std::string> lines = writer.preamble();
    std::size_t next = 0;
    for (;;) {
        if (next == lines.size()) {
            lines.clear();
            next = 0;
            writer.scene(lines);
        }
        const std::string& line = lines[next++];
        // Keep 3 bytes free so that the padding can always end the script.
        if (out.size() + line.size() + 2 + 3 > size) break;
        out += line;
        out += "\r\n";
    }
    padWithComments(out, size);
    return out;
}

// Ends a single line at exactly size with ASCII filler; a start longer
// than size is dropped rather than cut inside a character.
void padLine(std::string& out, std::size_t size, char filler) {
    if (out.size() > size) out.clear();
    out.append(size - out.size(), filler);
}

std::string longLine(std::size_t size, std::uint64_t seed) {
    ScriptWriter writer(seed);
    std::string out;
    out.reserve(size);
    for (;;) {
        std::string piece = writer.messageLine();
        if (out.size() + piece.size() > size) break;
        out += piece;
    }
    padLine(out, size, '@');
    return out;
}

std::string emptyLines(std::size_t size) {
    std::string out;
    out.reserve(size);
    if (size % 2 == 1) out += ' ';
    while (out.size() < size) out += "\r\n";
    return out;
}

std::string brackets(std::size_t size) {
    // The "[" must follow a token: at the line top they would open a tag.
    std::string out = phrases().narration[0];
    if (out.size() >= size) out = size > 0 ? "a" : "";
    padLine(out, size, '[');
    return out;
}

std::string literal(std::size_t size) {
    const Phrases& p = phrases();
    std::string out = "\"";
    out.reserve(size);
    for (std::size_t i = 0; out.size() + 64 < size; ++i) {
        out += p.narration[i % p.narration.size()];
        out += i % 3 == 0 ? " ; $name %0 [x] " : ", ";
    }
    padLine(out, size, 'a');
    return out;
}

constexpr std::array<std::pair<std::string_view, Kind>, 6> kindNames = {{
    {"script", Kind::script},
    {"long-line", Kind::longLine},
    {"empty-lines", Kind::emptyLines},
    {"brackets", Kind::brackets},
    {"literal", Kind::literal},
    {"stars", Kind::stars},
}};

}  // namespace

std::optional<Kind> kindByName(std::string_view name) {
    for (const auto& [text, kind] : kindNames)
        if (text == name) return kind;
    return std::nullopt;
}

std::string_view kindName(Kind kind) {
    for (const auto& [text, k] : kindNames)
        if (k == kind) return text;
    return {};
}

std::string generate(Kind kind, std::size_t size, std::uint64_t seed) {
    switch (kind) {
        case Kind::script: return realisticScript(size, seed);
        case Kind::longLine: return longLine(size, seed);
        case Kind::emptyLines: return emptyLines(size);
        case Kind::brackets: return brackets(size);
        case Kind::literal: return literal(size);
        case Kind::stars: return std::string(size, '*');
    }
    return {};
}

std::optional<std::size_t> parseSize(std::string_view text) {
    std::size_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    std::string_view suffix(end, static_cast<std::size_t>(text.data() + text.size() - end));
    std::size_t scale = 1;
    if (suffix == "K" || suffix == "k") {
        scale = 1000;
    } else if (suffix == "M" || suffix == "m") {
        scale = 1000 * 1000;
    } else if (!suffix.empty()) {
        return std::nullopt;
    }
    if (value > SIZE_MAX / scale) return std::nullopt;
    return value * scale;
}

std::vector<std::string> generateGame(std::size_t size, std::size_t files, std::uint64_t seed) {
    // The added lines take about 2.6 % of the bytes.
    std::string script = generate(Kind::script, size - size / 38, seed);
    std::string game;
    game.reserve(size + size / 20);
    std::size_t lines = 0, labels = 0;
    // A game's labels are its own: a name the script repeats is made
    // unique, and the aliases it uses are defined with the others.
    std::unordered_map<std::string, std::size_t> seen;
    for (std::size_t at = 0; at < script.size();) {
        std::size_t end = script.find('\n', at);
        end = end == std::string::npos ? script.size() : end + 1;
        std::string_view line(script.data() + at, end - at);
        at = end;
        if (line.starts_with("*")) {
            std::size_t nameEnd = line.find_first_of(" \t\r\n:;");
            std::string name(line.substr(0, nameEnd));
            std::size_t& count = seen[name];
            if (count++ > 0) {
                game += name + "_" + std::to_string(count);
                game.append(line.substr(std::min(nameEnd, line.size())));
                continue;
            }
        }
        game.append(line);
        if (line.starts_with("*define"))
            game += "numalias res,12\r\nnumalias name,13\r\nnumalias tmp,14\r\nnumalias books,15\r\n";
        if (++lines % 14 == 0) game += "*part" + std::to_string(++labels) + "\r\n\r\n";
    }
    game += "*chapter\r\nreturn\r\n";
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t k = 1; k <= files; ++k) {
        std::size_t cut = k == files ? game.size() : game.find('\n', game.size() / files * k);
        cut = cut == std::string::npos ? game.size() : std::min(game.size(), cut + 1);
        parts.push_back(game.substr(start, cut - start));
        start = cut;
    }
    return parts;
}

}  // namespace scriptgen
