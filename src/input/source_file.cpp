#include "input/source_file.h"

namespace input {

ScriptBytes::ScriptBytes(std::string bytes) {
    auto owned = std::make_shared<std::string>(std::move(bytes));
    data_ = owned->data();
    size_ = owned->size();
    owner_ = std::move(owned);
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
