# Checks the source tree's layout (cmake -DROOT=<source folder> -P this file):
#   - every project #include names its folder ("tiff/gray_tiff.hpp");
#   - a layer of lib/ includes only its own headers, those of the layers it
#     may use (cmake/layers.cmake) and the public header;
#   - the programs and the Python module include nothing of lib/ but the
#     public headers (include/slabtone/), which include nothing of the
#     project but each other;
#   - no main() lies in lib/.
# Run when the build is configured and by the test suite.
cmake_minimum_required(VERSION 3.20)
include(${ROOT}/cmake/layers.cmake)

function(fault text)
  set_property(GLOBAL APPEND_STRING PROPERTY layout_faults "  ${text}\n")
endfunction()

# The project's #include "..." paths of `file` (reported as `name`) but the
# public headers; one that does not name its folder is a fault.
function(foldered_includes file name out)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  set(paths "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" path "${line}")
    if(path STREQUAL "slabtone/slabtone.hpp" OR path STREQUAL "slabtone/measurement.hpp")
      continue()
    elseif(NOT path MATCHES "/")
      fault("${name}: #include \"${path}\" does not name its folder")
    else()
      list(APPEND paths "${path}")
    endif()
  endforeach()
  set(${out} "${paths}" PARENT_SCOPE)
endfunction()

# Every C++ file below the folders given (relative to ROOT).
function(sources_in out)
  set(files "")
  foreach(folder IN LISTS ARGN)
    file(GLOB_RECURSE found "${ROOT}/${folder}/*.hpp" "${ROOT}/${folder}/*.cpp")
    list(APPEND files ${found})
  endforeach()
  set(${out} "${files}" PARENT_SCOPE)
endfunction()

foreach(layer IN LISTS SLABTONE_LAYERS)
  set(allowed ${layer} ${SLABTONE_USES_${layer}})
  sources_in(files lib/${layer})
  foreach(file IN LISTS files)
    file(RELATIVE_PATH name "${ROOT}" "${file}")
    foldered_includes("${file}" "${name}" paths)
    foreach(path IN LISTS paths)
      string(REGEX REPLACE "/.*" "" folder "${path}")
      if(NOT folder IN_LIST allowed)
        fault("${name}: layer ${layer} may not include \"${path}\"")
      endif()
    endforeach()
    file(STRINGS "${file}" mains REGEX "^int main\\(")
    if(mains)
      fault("${name}: main() belongs to a program, not to the library")
    endif()
  endforeach()
endforeach()

foreach(header slabtone.hpp measurement.hpp)
  foldered_includes("${ROOT}/include/slabtone/${header}" include/slabtone/${header} paths)
  foreach(path IN LISTS paths)
    fault("include/slabtone/${header}: #include \"${path}\" of the project")
  endforeach()
endforeach()

sources_in(files programs python)
foreach(file IN LISTS files)
  file(RELATIVE_PATH name "${ROOT}" "${file}")
  foldered_includes("${file}" "${name}" paths)
  foreach(path IN LISTS paths)
    if(EXISTS "${ROOT}/lib/${path}" OR NOT EXISTS "${ROOT}/programs/${path}")
      fault("${name}: #include \"${path}\" is not a public header nor a program's own")
    endif()
  endforeach()
endforeach()

sources_in(files tests fuzz bench examples)
foreach(file IN LISTS files)
  file(RELATIVE_PATH name "${ROOT}" "${file}")
  foldered_includes("${file}" "${name}" paths)
endforeach()

get_property(faults GLOBAL PROPERTY layout_faults)
if(faults)
  message(FATAL_ERROR "The layout is broken:\n${faults}")
endif()
