#include "cli/output_plan.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "nscr/error.h"

namespace {

// A file as the system knows it, after following links; none when nothing
// is there.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return std::pair(info.st_dev, info.st_ino);
}

// What names one output: the file already there, else its absolute path
// with every link that exists on the way followed. The outputs of a run
// mostly share a folder, whose links are followed once.
class OutputKeys {
public:
    std::string keyOf(const std::string& path, const std::optional<std::pair<dev_t, ino_t>>& identity) {
        if (identity) return "file " + std::to_string(identity->first) + ":" + std::to_string(identity->second);
        std::error_code ignored;
        std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
        std::filesystem::path name = absolute.filename();
        if (name.empty() || name == "." || name == "..")
            return "path " + std::filesystem::weakly_canonical(absolute, ignored).string();
        // Nothing is there: the folder's form, with the name after it.
        auto [at, added] = folders_.try_emplace(absolute.parent_path().string());
        if (added) at->second = std::filesystem::weakly_canonical(absolute.parent_path(), ignored);
        return "path " + (at->second / name).string();
    }

private:
    std::map<std::string, std::filesystem::path> folders_;
};

}  // namespace

// The scripts of the run, each once: a script named again, by any path, is
// converted once.
std::vector<std::string> distinctScripts(const std::vector<std::string>& files) {
    std::set<std::string> seen;
    std::vector<std::string> scripts;
    for (const std::string& file : files) {
        auto identity = fileIdentity(file);
        std::string key = identity ? std::to_string(identity->first) + ":" + std::to_string(identity->second)
                                   : "name " + file;
        if (seen.insert(key).second) scripts.push_back(file);
    }
    return scripts;
}

// Why the run must not write its outputs, or none: an output that is not a
// regular file, one that is an input of the run (a script or a
// configuration file, links followed), or two outputs that are one file.
std::optional<std::string> outputProblem(const std::vector<PlannedOutput>& outputs,
                                         const std::vector<std::string>& inputs) {
    std::vector<std::pair<std::pair<dev_t, ino_t>, std::string>> inputIdentities;
    for (const std::string& input : inputs)
        if (auto identity = fileIdentity(input)) inputIdentities.emplace_back(*identity, input);
    std::map<std::string, const PlannedOutput*> byKey;
    OutputKeys keys;
    for (const PlannedOutput& output : outputs) {
        struct stat info {};
        std::optional<std::pair<dev_t, ino_t>> identity;
        if (::stat(output.path.c_str(), &info) == 0) {
            if (!S_ISREG(info.st_mode)) return output.path + ": not a regular file";
            identity = std::pair(info.st_dev, info.st_ino);
            for (const auto& [inputIdentity, input] : inputIdentities)
                if (inputIdentity == *identity)
                    return output.path + ": " + output.what + " would overwrite the input " + input +
                           "; nothing written";
        }
        auto [at, added] = byKey.emplace(keys.keyOf(output.path, identity), &output);
        if (!added)
            return output.path + ": " + at->second->what + " and " + output.what +
                   " would be the same file; nothing written";
    }
    return std::nullopt;
}

// Makes the output folder, with its parents, when it is missing.
void makeOutputDirectory(const std::string& directory) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) throw nscr::Error(directory + ": not a directory");
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw nscr::Error(directory + ": " + error.message());
}

