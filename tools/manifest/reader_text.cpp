#include "reader_text.h"

#include "platform/ini_lines.h"

namespace marvostell::tools {

bool IsUtf16Le(const std::string &bytes) { return bytes.compare(0, 2, "\xFF\xFE") == 0; }

std::string ReaderText(const std::string &bytes) { return ini::FileText(bytes); }

}  // namespace marvostell::tools
