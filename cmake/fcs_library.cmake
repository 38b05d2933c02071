include("${CMAKE_CURRENT_LIST_DIR}/exports.cmake")

# File names of the deliverables: lib<Name>.so on Linux, <Name>.dll on Windows.
if(WIN32)
  set(FCS_LIBRARY_PREFIX "")
else()
  set(FCS_LIBRARY_PREFIX "${CMAKE_SHARED_LIBRARY_PREFIX}")
endif()

# Flags for the libraries' own code: warnings as errors, nothing visible but
# the exports, no exceptions or RTTI across the C boundary, and no GNU unique
# symbols, which would pin a library in memory and defeat unloading.
add_library(fcs_code_flags INTERFACE)
target_compile_features(fcs_code_flags INTERFACE cxx_std_20)
target_compile_options(fcs_code_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wdouble-promotion
  $<$<BOOL:${FCS_WERROR}>:-Werror>
  -fno-exceptions -fno-rtti -fno-gnu-unique
  -ffp-contract=off)  # every double operation rounded on its own, as written

# The frame and the run-time services: compiled into every library, each with
# its own copy of their state.
add_library(fcs_frame OBJECT
  "${PROJECT_SOURCE_DIR}/frame/entry.cpp"
  "${PROJECT_SOURCE_DIR}/platform/runtime.cpp")
target_include_directories(fcs_frame PUBLIC
  "${PROJECT_SOURCE_DIR}/frame" "${PROJECT_SOURCE_DIR}/platform")
target_link_libraries(fcs_frame PUBLIC fcs_code_flags)
set_target_properties(fcs_frame PROPERTIES
  POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

# fcs_add_library(<Name> EXPORTS <list file> SOURCES <files...> [LINK <targets...>])
# Adds deliverable <Name>: lib<Name>.so (<Name>.dll) in FCS_LIBRARY_DIR, exporting exactly
# the names of its export list and carrying its prototype text and version
# record. Also adds <Name>_api, an interface target whose include path gives
# the generated <Name>_api.h to the library's sources, tests and tools.
function(fcs_add_library name)
  cmake_parse_arguments(ARG "" "EXPORTS" "SOURCES;LINK" ${ARGN})
  set(gen "${CMAKE_CURRENT_BINARY_DIR}/generated/${name}")
  file(MAKE_DIRECTORY "${gen}")
  set(file_name "${FCS_LIBRARY_PREFIX}${name}${CMAKE_SHARED_LIBRARY_SUFFIX}")
  fcs_generate_exports(${name} "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_EXPORTS}" "${gen}" "${file_name}")

  add_library(${name}_api INTERFACE)
  target_include_directories(${name}_api INTERFACE "${gen}" "${PROJECT_SOURCE_DIR}/frame")

  if(WIN32)
    # The module definition names the exports (nothing else is exported, not
    # even DllMain); the resource script carries the prototype text and the
    # version record. See exports.cmake for --kill-at --disable-stdcall-fixup.
    add_library(${name} SHARED ${ARG_SOURCES} "${gen}/${name}.def" "${gen}/${name}.rc")
    target_link_options(${name} PRIVATE "LINKER:--kill-at" "LINKER:--disable-stdcall-fixup")
    set_target_properties(${name} PROPERTIES
      PREFIX "${FCS_LIBRARY_PREFIX}"
      RUNTIME_OUTPUT_DIRECTORY "${FCS_LIBRARY_DIR}"
      LINK_DEPENDS "${gen}/${name}.def")
  else()
    add_library(${name} SHARED ${ARG_SOURCES} "${gen}/${name}_embedded.cpp")
    target_link_options(${name} PRIVATE
      "LINKER:--version-script=${gen}/${name}.map" "LINKER:--no-undefined")
    set_target_properties(${name} PROPERTIES
      VERSION 1.0.0 SOVERSION 1
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
      LIBRARY_OUTPUT_DIRECTORY "${FCS_LIBRARY_DIR}"
      LINK_DEPENDS "${gen}/${name}.map")
  endif()
  string(TOUPPER "${name}" upper)
  target_compile_definitions(${name} PRIVATE FCS_DEFINING_${upper})
  target_link_libraries(${name} PRIVATE ${name}_api fcs_frame fcs_code_flags ${ARG_LINK})
  set_property(GLOBAL APPEND PROPERTY FCS_LIBRARIES ${name})
endfunction()
