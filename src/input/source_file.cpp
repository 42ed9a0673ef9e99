#include "input/source_file.h"

#include "nscr/file.h"

namespace input {

ScriptBytes::ScriptBytes(std::string bytes) {
    auto owned = std::make_shared<std::string>(std::move(bytes));
    data_ = owned->data();
    size_ = owned->size();
    owner_ = std::move(owned);
}

ScriptBytes readScriptBytes(const std::string& path) {
    if (std::shared_ptr<nscr::MappedFile> mapped = nscr::MappedFile::map(path)) {
        char* data = mapped->data();
        std::size_t size = mapped->size();
        return {std::move(mapped), data, size};
    }
    return nscr::readWholeFile(path);
}

std::string_view encodingName(Encoding encoding) {
    switch (encoding) {
        case Encoding::CP932: return "CP932";
        case Encoding::UTF8: return "UTF-8";
        case Encoding::GBK: return "GBK";
    }
    return "CP932";
}

}  // namespace input
