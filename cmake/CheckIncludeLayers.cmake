# Checks that every file of the library includes only from its own layer and
# the layers below it that its layer uses (mainfolds/layers.cmake).
#
#   cmake -P cmake/CheckIncludeLayers.cmake            # the library in mainfolds/
#   cmake -DROOT=DIR [-DLAYERS=FILE] -P cmake/CheckIncludeLayers.cmake
#
# ROOT holds src/, tests/ and include/quendel/; LAYERS defaults to
# ROOT/layers.cmake, then to mainfolds/layers.cmake. CTest runs it as
# include_layers.
#
# A file's layer is the first folder of its path under src/ or tests/ (a
# public header's layer is listed in LAYERS). An include of the library's own
# files names its layer's folder ("host_filters/recursive_sweeps.h", for a
# test helper the folder under tests/) or is a public header
# ("quendel/texture.h"). Anything else in quotes, a folder that is no layer,
# a file that is not there or a layer the including file may not use is
# reported, with its line, and the check fails.

cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  get_filename_component(ROOT "${CMAKE_CURRENT_LIST_DIR}/../mainfolds" ABSOLUTE)
endif()
if(NOT LAYERS)
  if(EXISTS "${ROOT}/layers.cmake")
    set(LAYERS "${ROOT}/layers.cmake")
  else()
    get_filename_component(LAYERS "${CMAKE_CURRENT_LIST_DIR}/../mainfolds/layers.cmake" ABSOLUTE)
  endif()
endif()
include("${LAYERS}")

set(problems "")
set(problem_count 0)
macro(report location text)
  string(APPEND problems "  ${location}: ${text}\n")
  math(EXPR problem_count "${problem_count} + 1")
endmacro()

# The layer of every public header.
foreach(layer IN LISTS QUENDEL_LAYERS)
  foreach(header IN LISTS QUENDEL_PUBLIC_${layer})
    set("public_layer_of_${header}" "${layer}")
  endforeach()
endforeach()

# May a file of layer `from` include a file of layer `to`?
function(layer_may_use from to result)
  if(from STREQUAL to)
    set(${result} TRUE PARENT_SCOPE)
  elseif(to IN_LIST QUENDEL_LAYER_USES_${from})
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE candidates LIST_DIRECTORIES false RELATIVE "${ROOT}"
  "${ROOT}/src/*" "${ROOT}/tests/*" "${ROOT}/include/quendel/*")
list(SORT candidates)

set(file_count 0)
set(include_count 0)
foreach(path IN LISTS candidates)
  if(NOT path MATCHES "\\.(h|hpp|cpp|cc|cu|cuh)$")
    continue()
  endif()
  math(EXPR file_count "${file_count} + 1")

  # The file's layer, and whether it may include test helpers.
  set(umbrella FALSE)
  if(path MATCHES "^include/quendel/([^/]+)$")
    set(kind public)
    set(name "${CMAKE_MATCH_1}")
    if(name IN_LIST QUENDEL_PUBLIC_UMBRELLA)
      set(umbrella TRUE)
      set(layer "")
    elseif(DEFINED "public_layer_of_${name}")
      set(layer "${public_layer_of_${name}}")
    else()
      report("${path}" "public header without a layer: list it in ${LAYERS}")
      continue()
    endif()
  elseif(path MATCHES "^(src|tests)/([^/]+)/")
    set(kind "${CMAKE_MATCH_1}")
    set(layer "${CMAKE_MATCH_2}")
    if(NOT layer IN_LIST QUENDEL_LAYERS)
      string(REPLACE ";" ", " names "${QUENDEL_LAYERS}")
      report("${path}" "folder '${layer}' is no layer (layers: ${names})")
      continue()
    endif()
  else()
    report("${path}" "outside every layer's folder")
    continue()
  endif()

  # Lines as a list: semicolons and brackets would split or join items.
  file(READ "${ROOT}/${path}" content)
  string(REPLACE ";" "<semicolon>" content "${content}")
  string(REPLACE "[" "<open>" content "${content}")
  string(REPLACE "]" "<close>" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(line_number 0)
  foreach(line IN LISTS lines)
    math(EXPR line_number "${line_number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([\"<])([^\">]+)[\">]")
      continue()
    endif()
    set(quoted "${CMAKE_MATCH_1}")
    set(included "${CMAKE_MATCH_2}")
    set(location "${path}:${line_number}")
    if(quoted STREQUAL "<" AND NOT included MATCHES "^quendel/")
      continue()  # the standard library and other packages
    endif()
    math(EXPR include_count "${include_count} + 1")

    if(included MATCHES "^quendel/([^/]+)$")
      set(header "${CMAKE_MATCH_1}")
      if(header IN_LIST QUENDEL_PUBLIC_UMBRELLA)
        report("${location}" "includes ${included}, which is for clients only")
        continue()
      elseif(NOT EXISTS "${ROOT}/include/${included}")
        report("${location}" "includes ${included}, which is no public header")
        continue()
      elseif(NOT DEFINED "public_layer_of_${header}")
        continue()  # reported with the header itself
      endif()
      set(target_layer "${public_layer_of_${header}}")
    elseif(included MATCHES "^([^/]+)/(.+)$")
      set(target_layer "${CMAKE_MATCH_1}")
      if(kind STREQUAL "public")
        report("${location}" "public header includes ${included}, which clients do not have")
        continue()
      elseif(NOT target_layer IN_LIST QUENDEL_LAYERS)
        report("${location}" "includes ${included}, whose folder '${target_layer}' is no layer")
        continue()
      endif()
      set(found FALSE)
      if(EXISTS "${ROOT}/src/${included}")
        set(found TRUE)
      elseif(kind STREQUAL "tests" AND EXISTS "${ROOT}/tests/${included}")
        set(found TRUE)
      endif()
      if(NOT found)
        report("${location}" "includes ${included}, which is not in src/${target_layer}/")
        continue()
      endif()
    else()
      report("${location}" "includes \"${included}\" without its layer's folder")
      continue()
    endif()

    if(umbrella)
      continue()  # quendel.h may include every public header
    endif()
    layer_may_use("${layer}" "${target_layer}" allowed)
    if(NOT allowed)
      set(uses "${QUENDEL_LAYER_USES_${layer}}")
      if(uses STREQUAL "")
        set(uses "no other layer")
      endif()
      string(REPLACE ";" ", " uses "${uses}")
      report("${location}"
        "includes ${included} (layer ${target_layer}) from layer ${layer}, which may use ${uses}")
    endif()
  endforeach()
endforeach()

if(problem_count GREATER 0)
  message(FATAL_ERROR
    "include layers: ${problem_count} problem(s) under\n  ${ROOT}\n${problems}"
    "The layers and what each may use: ${LAYERS}, docs/architecture.md")
endif()
message(STATUS "include layers: ${include_count} includes of ${file_count} files follow the layers")
