#include "input/game_loader.h"

#include <atomic>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <exception>
#include <map>
#include <memory>
#include <set>

#include "input/encoding_check.h"
#include "nscr/file.h"
#include "nscr/parallel.h"

namespace input {
namespace {

constexpr std::size_t lastNumber = 99;
constexpr unsigned char datXor = 0x84;
constexpr unsigned char secKey[] = {0x79, 0x57, 0x0D, 0x80, 0x04};
constexpr std::string_view numberedExtensions[] = {".utf.txt", ".txt", ".utf"};

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The message of a failure to read path, without the path before it.
std::string withoutPath(const std::string& message, const std::string& path) {
    std::string prefix = path + ": ";
    return message.starts_with(prefix) ? message.substr(prefix.size()) : message;
}

// A numbered script name: its digits and its extension.
struct NumberedName {
    std::string_view digits;
    std::string_view extension;
};

std::optional<NumberedName> numberedName(std::string_view name) {
    std::size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    if (digits == 0) return std::nullopt;
    std::string_view rest = name.substr(digits);
    for (std::string_view extension : numberedExtensions)
        if (rest == extension) return NumberedName{name.substr(0, digits), extension};
    return std::nullopt;
}

// The single-file scripts some engine looks for.
bool isScriptFileName(std::string_view name) {
    for (Engine engine : {Engine::NScripter, Engine::ONScripter, Engine::ONScripterEN, Engine::Ponscripter,
                          Engine::ONScripterRU, Engine::ONScripterJH})
        for (const FirstFile& first : profileOf(engine).searchOrder)
            if (first.kind != ScriptKind::Numbered && first.name == name) return true;
    return false;
}

// A file's bytes checked against the encoding it will be read in, where it
// was read: the first bad bytes, if any.
struct Checked {
    Encoding encoding;
    std::optional<BadBytes> bad;
};

class Loader {
public:
    Loader(GameLoad& out, const EngineProfile& profile, std::optional<Encoding> forced)
        : out_(out), profile_(profile), forced_(forced) {}

    void run() {
        if (!listFolder()) return;
        if (names_.empty()) {
            folderError("the folder is empty: no script in it");
            return;
        }
        const FirstFile* first = findFirstFile();
        if (first == nullptr) {
            std::string message = "no script: none of ";
            for (std::size_t i = 0; i < profile_.searchOrder.size(); ++i)
                message += std::string(i == 0 ? "" : ", ") + std::string(profile_.searchOrder[i].name);
            folderError(message);
        } else if (first->kind == ScriptKind::Numbered) {
            readNumbered(*first);
        }
        skipTheRest(first);
        bool anyText = std::any_of(out_.files.begin(), out_.files.end(),
                                   [](const SourceFile& file) { return !file.bytes.empty(); });
        if (!out_.files.empty() && !anyText) folderError("the game's script is empty: every file read is empty");
    }

private:
    struct Read {
        bool ok = false;
        ScriptBytes bytes;  // moved out once the file is taken into the game
        std::string error;
        std::optional<Checked> checked;
    };

    bool listFolder() {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(out_.folder.c_str()), ::closedir);
        if (dir == nullptr) {
            folderError(std::strerror(errno));
            return false;
        }
        int error = 0;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir.get());
            if (entry == nullptr) {
                error = errno;
                break;
            }
            std::string name = entry->d_name;
            if (name != "." && name != "..") names_.insert(std::move(name));
        }
        if (error != 0) {
            folderError(std::strerror(error));
            return false;
        }
        return true;
    }

    bool present(const std::string& name) const { return names_.count(name) != 0; }

    Read readFile(const std::string& name) const {
        Read result;
        std::string path = joinPath(out_.folder, name);
        try {
            result.bytes = readScriptBytes(path);
            result.ok = true;
        } catch (const std::exception& failure) {
            result.error = withoutPath(failure.what(), path);
        }
        return result;
    }

    Read& read(const std::string& name) {
        auto found = reads_.find(name);
        if (found != reads_.end()) return found->second;
        return reads_.emplace(name, readFile(name)).first->second;
    }

    // Reads the files there are of these names on every processor, for
    // read() to find, and checks their encodings meanwhile.
    void readAhead(const std::vector<std::string>& names, const FirstFile& kind) {
        std::vector<Read> done(names.size());
        std::atomic<std::size_t> next{0};
        nscr::runSideBySide(std::min(nscr::processorCount(), names.size()), [&](std::size_t) {
            for (std::size_t k; (k = next++) < names.size();) {
                done[k] = readFile(names[k]);
                if (done[k].ok) done[k].checked = checkedAsRead(done[k].bytes, kind);
            }
        });
        for (std::size_t k = 0; k < names.size(); ++k) reads_.emplace(names[k], std::move(done[k]));
    }

    // The check of a numbered file's bytes, done while they are at hand:
    // they are taken into the game as they are (no XOR).
    Checked checkedAsRead(std::string_view bytes, const FirstFile& kind) const {
        bool bom = startsWithUtf8Bom(bytes);
        if (bom && profile_.stripsBom) bytes.remove_prefix(3);
        Encoding encoding = encodingFor(bytes, bom, kind).first;
        return {encoding, validate(bytes, encoding)};
    }

    // The encoding a file is read in, and whether that is a guess of UTF-8
    // against the engine's own.
    std::pair<Encoding, bool> encodingFor(std::string_view bytes, bool bom, const FirstFile& kind) const {
        if (forced_) return {*forced_, false};
        if (kind.utf8 || bom) return {Encoding::UTF8, false};
        // Valid UTF-8 with characters above ASCII is hardly ever meant as
        // CP932 or GBK text, though the engine takes it so.
        if (looksLikeUtf8(bytes)) return {Encoding::UTF8, true};
        return {profile_.textEncoding, false};
    }

    // Reads name when it is there; one that cannot be read is reported and
    // then taken as missing, as the engine's open fails on it.
    Read* tryRead(const std::string& name) {
        if (!present(name) || accounted_.count(name) != 0) return nullptr;
        Read& result = read(name);
        if (result.ok) return &result;
        fileError(name, 0, 0, result.error);
        skip(name, result.error, false);
        return nullptr;
    }

    // The first name of the engine's search order that is there decides how
    // the game is read.
    const FirstFile* findFirstFile() {
        for (const FirstFile& first : profile_.searchOrder) {
            std::string name(first.name);
            switch (first.kind) {
                case ScriptKind::Numbered:
                    if (tryRead(name) != nullptr) return &first;
                    break;
                case ScriptKind::XorDat:
                case ScriptKind::XorKeyDat:
                    if (Read* found = tryRead(name)) {
                        addFile(name, std::move(found->bytes), first);
                        return &first;
                    }
                    break;
                case ScriptKind::TableDat:
                    if (present(name)) {
                        notReadable(name, "it is decoded with a table kept in the game's executable, which is not "
                                          "at hand: it cannot be read, and nothing is guessed");
                        return &first;
                    }
                    break;
                case ScriptKind::UnknownDat:
                    if (present(name)) {
                        notReadable(name, "its encoding is not known to this program: it cannot be read");
                        return &first;
                    }
                    break;
                case ScriptKind::Packed:
                    if (present(name)) {
                        notReadable(name, "a packed release script, not a text format: it cannot be read");
                        return &first;
                    }
                    break;
            }
        }
        return nullptr;
    }

    void notReadable(const std::string& name, const std::string& why) {
        fileError(name, 0, 0, why);
        skip(name, why, false);
    }

    // 0 to 99 in order, each as N.ext or else as 0N.ext; missing numbers are
    // skipped, or end the game for an engine that stops at them.
    void readNumbered(const FirstFile& first) {
        std::vector<std::string> there;
        for (std::size_t i = 0; i <= lastNumber; ++i) {
            std::string plain = std::to_string(i).append(first.extension);
            std::string padded = profile_.twoDigitNames && i < 10 ? "0" + plain : std::string();
            for (const std::string& name : {plain, padded})
                if (!name.empty() && present(name) && accounted_.count(name) == 0) there.push_back(name);
        }
        readAhead(there, first);
        std::string stopped;  // why the files from here on are not read
        for (std::size_t i = 0; i <= lastNumber; ++i) {
            std::string plain = std::to_string(i);
            plain.append(first.extension);
            std::string padded;
            if (profile_.twoDigitNames && i < 10) padded.append(1, '0').append(plain);
            if (!stopped.empty()) {
                for (const std::string& name : {plain, padded})
                    if (!name.empty() && present(name)) skip(name, stopped);
                continue;
            }
            std::string chosen;
            Read* found = tryRead(plain);
            if (found != nullptr) {
                chosen = plain;
                if (!padded.empty() && present(padded)) skip(padded, "shadowed by " + plain);
            } else if (!padded.empty() && (found = tryRead(padded)) != nullptr) {
                chosen = padded;
            }
            if (found == nullptr) {
                if (profile_.stopsAtGap) stopped = "after the gap at " + plain + ", where this engine stops";
                continue;
            }
            if (profile_.stopsAtGap && found->bytes.empty()) {
                skip(chosen, "empty: this engine stops at the first empty file");
                stopped = "after the empty file " + chosen + ", where this engine stops";
                continue;
            }
            addFile(chosen, std::move(found->bytes), first, found->checked);
        }
    }

    void addFile(const std::string& name, ScriptBytes bytes, const FirstFile& kind,
                 const std::optional<Checked>& checked = std::nullopt) {
        accounted_.insert(name);
        char* text = bytes.data();
        if (kind.kind == ScriptKind::XorDat) {
            for (std::size_t i = 0; i < bytes.size(); ++i) text[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ datXor);
        } else if (kind.kind == ScriptKind::XorKeyDat) {
            for (std::size_t i = 0; i < bytes.size(); ++i)
                text[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ secKey[i % sizeof secKey]);
        }
        bool bom = startsWithUtf8Bom(bytes);
        if (bom && profile_.stripsBom) bytes.removePrefix(3);

        auto [encoding, guessedUtf8] = encodingFor(bytes, bom, kind);
        if (guessedUtf8)
            fileWarning(name, 0, 0,
                        "valid UTF-8 without a BOM: read as UTF-8, though " + std::string(profile_.name) +
                            " reads this file as " + std::string(encodingName(profile_.textEncoding)));
        if (bom && !profile_.stripsBom)
            fileWarning(name, 1, 1,
                        "starts with a UTF-8 BOM, which " + std::string(profile_.name) +
                            " keeps: a label or command at the start of line 1 is not seen");
        if (bytes.empty()) fileWarning(name, 0, 0, "empty file");
        out_.files.push_back({joinPath(out_.folder, name), name, std::move(bytes), encoding});
        checked_.push_back(checked && checked->encoding == encoding ? checked : std::nullopt);
    }

public:
    // Per file taken into the game, its check when done as it was read.
    const std::vector<std::optional<Checked>>& checked() const { return checked_; }

private:

    // Every script file of the folder not yet read nor left aside, with why
    // the engine does not read it.
    void skipTheRest(const FirstFile* first) {
        for (const std::string& name : names_) {
            if (accounted_.count(name) != 0) continue;
            std::optional<NumberedName> numbered = numberedName(name);
            if (!numbered && !isScriptFileName(name)) continue;
            skip(name, whyNotRead(name, numbered, first));
        }
    }

    std::string whyNotRead(const std::string& name, const std::optional<NumberedName>& numbered,
                           const FirstFile* first) const {
        bool known = std::any_of(profile_.searchOrder.begin(), profile_.searchOrder.end(), [&](const FirstFile& f) {
            return numbered ? f.kind == ScriptKind::Numbered && f.extension == numbered->extension : f.name == name;
        });
        std::string engine(profile_.name);
        if (!known)
            return engine + " does not read " +
                   (numbered ? std::string(numbered->extension) + " files" : std::string(name));
        if (first == nullptr) return "no first script file, so the engine reads nothing";
        std::string from = "the game is read from " + std::string(first->name);
        if (!numbered || first->kind != ScriptKind::Numbered || first->extension != numbered->extension) {
            if (numbered && first->kind == ScriptKind::Numbered && numbered->extension == ".txt")
                return "a .txt file beside a " + std::string(first->extension) + " game: " + from;
            return from;
        }
        std::string_view digits = numbered->digits;
        if (!profile_.twoDigitNames && digits.size() == 2 && digits[0] == '0')
            return engine + " does not read two-digit names";
        if (digits.substr(std::min(digits.find_first_not_of('0'), digits.size())).size() > 2)
            return "the engine reads numbers 0 to 99 only";
        return "not a name the engine tries (N" + std::string(numbered->extension) + ", or 0N" +
               std::string(numbered->extension) + " below 10)";
    }

    void skip(const std::string& name, const std::string& reason, bool warn = true) {
        if (!accounted_.insert(name).second) return;
        out_.notRead.push_back({joinPath(out_.folder, name), name, reason});
        if (warn) fileWarning(name, 0, 0, "not read: " + reason);
    }

    void folderError(const std::string& message) {
        out_.diagnostics.push_back({out_.folder, 0, 0, message, Severity::Error});
    }
    void fileError(const std::string& name, std::size_t line, std::size_t column, const std::string& message) {
        out_.diagnostics.push_back({joinPath(out_.folder, name), line, column, message, Severity::Error});
    }
    void fileWarning(const std::string& name, std::size_t line, std::size_t column, const std::string& message) {
        out_.diagnostics.push_back({joinPath(out_.folder, name), line, column, message, Severity::Warning});
    }

    GameLoad& out_;
    const EngineProfile& profile_;
    std::optional<Encoding> forced_;
    std::set<std::string> names_;
    std::map<std::string, Read> reads_;
    std::set<std::string> accounted_;  // read, or left aside with a reason
    std::vector<std::optional<Checked>> checked_;
};

}  // namespace

std::string formatDiagnostic(const Diagnostic& diagnostic) {
    std::string text = diagnostic.file;
    if (diagnostic.line != 0) {
        text += ':' + std::to_string(diagnostic.line);
        if (diagnostic.column != 0) text += ':' + std::to_string(diagnostic.column);
    }
    text += diagnostic.severity == Severity::Error ? ": error: " : ": warning: ";
    return text + diagnostic.message;
}

bool GameLoad::hasErrors() const {
    return std::any_of(diagnostics.begin(), diagnostics.end(),
                       [](const Diagnostic& d) { return d.severity == Severity::Error; });
}

namespace {

// The first bytes of a file that are not valid in its encoding, as a
// diagnostic.
std::optional<Diagnostic> encodingDiagnostic(const SourceFile& file, const std::optional<BadBytes>& bad) {
    if (!bad) return std::nullopt;
    std::string_view bytes = file.bytes;
    std::string message = notValidText(bytes.substr(bad->offset, bad->length), file.encoding);
    if (std::optional<Encoding> guess = guessEncoding(bytes))
        message += "; the file looks like " + std::string(encodingName(*guess));
    else
        message += "; the file is not text in CP932, UTF-8 or GBK (binary data?)";
    return Diagnostic{file.path, bad->line, bad->column, message, Severity::Error};
}

// Every file's bytes checked, the findings in file order: those not checked
// as they were read on every processor.
void checkEncodings(GameLoad& game, const std::vector<std::optional<Checked>>& checked) {
    std::vector<std::optional<Diagnostic>> found(game.files.size());
    std::vector<std::size_t> unchecked;
    for (std::size_t k = 0; k < game.files.size(); ++k) {
        if (k < checked.size() && checked[k])
            found[k] = encodingDiagnostic(game.files[k], checked[k]->bad);
        else
            unchecked.push_back(k);
    }
    std::atomic<std::size_t> next{0};
    nscr::runSideBySide(std::min(nscr::processorCount(), unchecked.size()), [&](std::size_t) {
        for (std::size_t k; (k = next++) < unchecked.size();) {
            const SourceFile& file = game.files[unchecked[k]];
            found[unchecked[k]] = encodingDiagnostic(file, validate(file.bytes, file.encoding));
        }
    });
    for (std::optional<Diagnostic>& diagnostic : found)
        if (diagnostic) game.diagnostics.push_back(std::move(*diagnostic));
}

}  // namespace

GameLoad loadGame(const std::string& folder, Engine engine, std::optional<Encoding> forced) {
    GameLoad game;
    game.engine = engine;
    game.folder = folder;
    try {
        Loader loader(game, profileOf(engine), forced);
        loader.run();
        checkEncodings(game, loader.checked());
    } catch (const std::exception& failure) {
        game.diagnostics.push_back({folder, 0, 0, failure.what(), Severity::Error});
    }
    return game;
}

}  // namespace input
