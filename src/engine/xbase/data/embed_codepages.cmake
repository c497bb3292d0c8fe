# Turns the code page tables (cpNNN.txt: byte, tab, Unicode code point) into a
# C++ source file at build time.
# cmake -DOUT=<file.cpp> -DDIR=<data folder> -P embed_codepages.cmake
set(pages 620 895 10006)
set(body "// Generated from data/cp*.txt. Do not edit.\n#include <cstddef>\n")
string(APPEND body "namespace qm::xbase::codepage_data {\n")
string(APPEND body "extern const char* tableFor(int codePage);\n")
string(APPEND body "const char* tableFor(int codePage)\n{\n    switch (codePage) {\n")
foreach(p ${pages})
  file(READ "${DIR}/cp${p}.txt" text)
  string(APPEND body "    case ${p}: return R\"QMCP(${text})QMCP\";\n")
endforeach()
string(APPEND body "    default: return nullptr;\n    }\n}\n} // namespace qm::xbase::codepage_data\n")
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
