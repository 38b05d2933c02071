# The export list of a library is a text file with one C prototype per line,
# exactly as the library file carries them, in ordinal order. Everything that
# depends on the exports is generated from it at configure time:
#   <name>.map          linker version script: the exports, nothing else
#   <name>_api.h        one function type per export (namespace <lowercase name>_api),
#                       and the export declarations for the library's own sources
#   <name>_embedded.cpp the prototype text and the version record, as sections
#                       of the library file (ELF)
# and, for Windows DLLs:
#   <name>.def          module definition: the exports by name, ordinals from 1
#                       in list order; on 32-bit x86 each name carries the
#                       __stdcall argument bytes (name@N)
#   <name>.rc           resource script: the prototype text and the version record

set(FCS_COMPANY_NAME "FCS photon-stream libraries")
set(FCS_PRODUCT_NAME "FCS photon-stream libraries")
set(FCS_LEGAL_COPYRIGHT "Copyright (C) 2026 the FCS photon-stream libraries authors")

# Reads an export list: sets <prefix>_NAMES (export names, in order),
# <prefix>_LINES (prototypes without their semicolon, separated by "|")
# and <prefix>_COUNT.
function(fcs_read_exports file prefix)
  file(READ "${file}" content)
  # Semicolons would split CMake lists: every line ends in one, so drop them
  # here and put them back when the text is written.
  if(NOT content MATCHES "^([^;\n]+;\n)+$")
    message(FATAL_ERROR "${file}: every line must be one prototype ending in ';'")
  endif()
  string(REPLACE ";" "" content "${content}")
  string(REGEX REPLACE "\n$" "" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(names "")
  set(previous "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[a-z ]+ __stdcall ([A-Za-z_][A-Za-z0-9_]*)\\([^()]*\\)$")
      message(FATAL_ERROR "${file}: not a prototype: '${line}'")
    endif()
    set(name "${CMAKE_MATCH_1}")
    if(previous AND NOT previous STRLESS name)
      message(FATAL_ERROR "${file}: '${name}' is out of ordinal (ASCII) order")
    endif()
    set(previous "${name}")
    list(APPEND names "${name}")
  endforeach()
  list(LENGTH names count)
  string(REPLACE ";" "|" joined "${lines}")
  set(${prefix}_NAMES "${names}" PARENT_SCOPE)
  set(${prefix}_LINES "${joined}" PARENT_SCOPE)
  set(${prefix}_COUNT "${count}" PARENT_SCOPE)
endfunction()

# Rewrites a prototype's C types with the fixed-width boundary types.
function(_fcs_boundary_types text out)
  string(REPLACE "unsigned long long" "@ULL@" text "${text}")
  string(REPLACE "unsigned long" "@UL@" text "${text}")
  string(REGEX REPLACE "(^|[^A-Za-z0-9_])long([^A-Za-z0-9_]|$)" "\\1fcs_long\\2" text "${text}")
  string(REPLACE "@ULL@" "fcs_ulonglong" text "${text}")
  string(REPLACE "@UL@" "fcs_ulong" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Argument bytes that a __stdcall export with the parameter list `params`
# ("(long m, double x)", "(void)") removes from the stack: 4 for each pointer,
# long and unsigned long, 8 for each double and unsigned long long.
function(_fcs_argument_bytes params out)
  string(REGEX REPLACE "^\\((.*)\\)$" "\\1" inner "${params}")
  set(bytes 0)
  if(NOT inner STREQUAL "void")
    string(REPLACE "," ";" parameters "${inner}")
    foreach(p IN LISTS parameters)
      if(p MATCHES "\\*")
        math(EXPR bytes "${bytes} + 4")
      elseif(p MATCHES "(^| )(double|unsigned long long) ")
        math(EXPR bytes "${bytes} + 8")
      elseif(p MATCHES "(^| )long ")
        math(EXPR bytes "${bytes} + 4")
      else()
        message(FATAL_ERROR "no argument size known for parameter '${p}'")
      endif()
    endforeach()
  endif()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# Writes content to path only when it differs, so unchanged lists rebuild nothing.
function(_fcs_write_if_changed path content)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${content}")
endfunction()

# Generates the files above for library <name> into <outdir>.
# <file_name> is the library file's name, recorded in the version record.
function(fcs_generate_exports name list_file outdir file_name)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}")
  fcs_read_exports("${list_file}" exp)
  string(REPLACE "|" ";" lines "${exp_LINES}")
  string(TOLOWER "${name}_api" ns)
  string(TOUPPER "${name}" upper)

  # Version script.
  set(map "{\n  global:\n")
  foreach(n IN LISTS exp_NAMES)
    string(APPEND map "    ${n};\n")
  endforeach()
  string(APPEND map "  local:\n    *;\n};\n")
  _fcs_write_if_changed("${outdir}/${name}.map" "${map}")

  # Function types and declarations.
  set(types "")
  set(decls "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^([a-z ]+) __stdcall ([A-Za-z0-9_]+)(\\(.*\\))$" _ "${line}")
    set(result "${CMAKE_MATCH_1}")
    set(fn "${CMAKE_MATCH_2}")
    set(params "${CMAKE_MATCH_3}")
    _fcs_boundary_types("${result}" result)
    _fcs_boundary_types("${params}" params)
    string(APPEND types "using ${fn}_fn = ${result} FCS_CALL${params} noexcept;\n")
    string(APPEND decls "FCS_EXPORT ${ns}::${fn}_fn ${fn};\n")
  endforeach()
  set(header "// Generated from ${list_file}: do not edit.\n#pragma once\n\n#include \"fcs_types.h\"\n\n")
  string(APPEND header "namespace ${ns} {\n\n${types}\n}  // namespace ${ns}\n\n")
  string(APPEND header "#ifdef FCS_DEFINING_${upper}\n${decls}#endif\n")
  _fcs_write_if_changed("${outdir}/${name}_api.h" "${header}")

  # Prototype text: each line with its semicolon and a line feed, then one to
  # four NUL bytes up to a multiple of 4 (the array's size supplies them).
  set(text "")
  set(length 0)
  foreach(line IN LISTS lines)
    string(APPEND text "    \"${line};\\n\"\n")
    string(LENGTH "${line}" n)
    math(EXPR length "${length} + ${n} + 2")
  endforeach()
  math(EXPR padded "(${length} / 4 + 1) * 4")

  set(version_pairs
    "FileDescription|${name}" "InternalName|${name}" "OriginalFilename|${file_name}"
    "FileVersion|1.0" "ProductVersion|1.0" "CompanyName|${FCS_COMPANY_NAME}"
    "ProductName|${FCS_PRODUCT_NAME}" "LegalCopyright|${FCS_LEGAL_COPYRIGHT}")
  set(version "")
  foreach(pair IN LISTS version_pairs)
    string(REPLACE "|" "\\0\" \"" pair "${pair}")
    string(APPEND version "    \"${pair}\\0\"\n")
  endforeach()

  set(src "// Generated from ${list_file}: do not edit.\n")
  string(APPEND src "// The prototype text and the version record travel inside the library file,\n")
  string(APPEND src "// each in a section of its own.\n\n")
  string(APPEND src "__attribute__((section(\"CVIDLLPROTOTYPES\"), used))\n")
  string(APPEND src "static const char prototype_text[${padded}] =\n${text};\n\n")
  string(APPEND src "// Key and value pairs, each NUL-terminated; an empty key ends the record.\n")
  string(APPEND src "__attribute__((section(\"VERSIONINFO\"), used))\n")
  string(APPEND src "static const char version_record[] =\n${version};\n")
  _fcs_write_if_changed("${outdir}/${name}_embedded.cpp" "${src}")

  if(WIN32)
    _fcs_generate_windows_files(${name} "${list_file}" "${outdir}" "${file_name}"
      "${lines}" "${text}" "${padded}" "${length}" "${version_pairs}")
  endif()
endfunction()

# The module definition and the resource script of a Windows DLL (see the top).
function(_fcs_generate_windows_files name list_file outdir file_name lines text padded length version_pairs)
  # Module definition. A 32-bit __stdcall symbol is decorated with its argument
  # bytes (name@N); linked with --kill-at --disable-stdcall-fixup, the export
  # is undecorated, and a definition whose convention or argument bytes differ
  # from the prototype's leaves name@N undefined, which fails the link.
  set(def "; Generated from ${list_file}: do not edit.\nLIBRARY \"${file_name}\"\nEXPORTS\n")
  set(ordinal 1)
  foreach(line IN LISTS lines)
    string(REGEX MATCH " __stdcall ([A-Za-z0-9_]+)(\\(.*\\))$" _ "${line}")
    set(fn "${CMAKE_MATCH_1}")
    _fcs_argument_bytes("${CMAKE_MATCH_2}" bytes)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(APPEND def "  ${fn}@${bytes} @${ordinal}\n")
    else()
      string(APPEND def "  ${fn} @${ordinal}\n")
    endif()
    math(EXPR ordinal "${ordinal} + 1")
  endforeach()
  _fcs_write_if_changed("${outdir}/${name}.def" "${def}")

  # Resource script. LANGUAGE holds for every resource after it, so each
  # resource states its own. Strings of a user-defined resource get no
  # terminating NUL: the padding is spelled out.
  math(EXPR nuls "${padded} - ${length}")
  string(REPEAT "\\0" ${nuls} padding)
  set(rc "// Generated from ${list_file}: do not edit.\n\n")
  string(APPEND rc "// The prototype text: language 0x0030, no sublanguage.\n")
  string(APPEND rc "LANGUAGE 0x30, 0x00\nCVIDLLEXPORTS CVIDLLPROTOTYPES\nBEGIN\n${text}    \"${padding}\"\nEND\n\n")
  string(APPEND rc "// The version record: U.S. English (0x0409), Unicode strings (code page 1200).\n")
  string(APPEND rc "LANGUAGE 0x09, 0x01\n1 VERSIONINFO\n")
  string(APPEND rc "FILEVERSION 1,0,0,0\nPRODUCTVERSION 1,0,0,0\n")
  string(APPEND rc "FILEFLAGSMASK 0x3F\nFILEFLAGS 0x0\n")
  string(APPEND rc "FILEOS 0x4\nFILETYPE 0x2\nFILESUBTYPE 0x0\n")  # VOS__WINDOWS32, VFT_DLL
  string(APPEND rc "BEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"040904b0\"\n    BEGIN\n")
  foreach(pair IN LISTS version_pairs)
    string(REPLACE "|" "\", \"" pair "${pair}")
    string(APPEND rc "      VALUE \"${pair}\"\n")
  endforeach()
  string(APPEND rc "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", 0x0409, 0x04B0\n  END\nEND\n")
  _fcs_write_if_changed("${outdir}/${name}.rc" "${rc}")
endfunction()
