# Turns the sort-order tables into a C++ source file at build time.
# cmake -DOUT=<file.cpp> -DDIR=<data folder> -P embed_collation.cmake
set(names genleg ext_genleg gen ext_gen)
set(body "// Generated from the index_codes_*.txt tables (see data/NOTICE). Do not edit.\n")
string(APPEND body "namespace qm::jet::collation_data {\n")
foreach(n ${names})
  file(READ "${DIR}/index_codes_${n}.txt" text)
  string(APPEND body "extern const char* const ${n};\nconst char* const ${n} = R\"QMCOLL(${text})QMCOLL\";\n")
endforeach()
string(APPEND body "} // namespace qm::jet::collation_data\n")
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
