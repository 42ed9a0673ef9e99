#include "input/source_file.h"

namespace input {

std::string_view encodingName(Encoding encoding) {
    switch (encoding) {
        case Encoding::CP932: return "CP932";
        case Encoding::UTF8: return "UTF-8";
        case Encoding::GBK: return "GBK";
    }
    return "CP932";
}

}  // namespace input
