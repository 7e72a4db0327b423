# Checks the source tree's layout (cmake -DROOT=<source folder> -P this file):
#   - every project #include names its folder ("tiff/gray_tiff.hpp");
#   - a layer of lib/ includes only its own headers, those of the layers it
#     may use (cmake/layers.cmake) and the public header;
#   - the programs include nothing of lib/ but the public header, which
#     itself includes nothing of the project;
#   - no main() lies in lib/.
# Run when the build is configured and by the test suite.
cmake_minimum_required(VERSION 3.20)
include(${ROOT}/cmake/layers.cmake)
set(faults "")

# The project's #include "..." lines of `file`, as a list of paths.
function(project_includes file out)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  set(paths "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" path "${line}")
    list(APPEND paths "${path}")
  endforeach()
  set(${out} "${paths}" PARENT_SCOPE)
endfunction()

macro(fault text)
  string(APPEND faults "  ${text}\n")
endmacro()

foreach(layer IN LISTS SLABTONE_LAYERS)
  set(allowed ${layer} ${SLABTONE_USES_${layer}})
  file(GLOB_RECURSE files "${ROOT}/lib/${layer}/*.hpp" "${ROOT}/lib/${layer}/*.cpp")
  foreach(file IN LISTS files)
    file(RELATIVE_PATH name "${ROOT}" "${file}")
    project_includes("${file}" paths)
    foreach(path IN LISTS paths)
      if(path STREQUAL "slabtone/slabtone.hpp")
        continue()
      endif()
      if(NOT path MATCHES "/")
        fault("${name}: #include \"${path}\" does not name its folder")
        continue()
      endif()
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

project_includes("${ROOT}/include/slabtone/slabtone.hpp" paths)
foreach(path IN LISTS paths)
  fault("include/slabtone/slabtone.hpp: #include \"${path}\" of the project")
endforeach()

file(GLOB_RECURSE files "${ROOT}/programs/*.hpp" "${ROOT}/programs/*.cpp" "${ROOT}/python/*.cpp"
     "${ROOT}/python/*.hpp")
foreach(file IN LISTS files)
  file(RELATIVE_PATH name "${ROOT}" "${file}")
  project_includes("${file}" paths)
  foreach(path IN LISTS paths)
    if(path STREQUAL "slabtone/slabtone.hpp")
      continue()
    endif()
    if(NOT path MATCHES "/")
      fault("${name}: #include \"${path}\" does not name its folder")
    elseif(EXISTS "${ROOT}/lib/${path}" OR NOT EXISTS "${ROOT}/programs/${path}")
      fault("${name}: #include \"${path}\" is not the public header nor a program's own")
    endif()
  endforeach()
endforeach()

file(GLOB_RECURSE files "${ROOT}/tests/*.hpp" "${ROOT}/tests/*.cpp" "${ROOT}/fuzz/*.hpp"
     "${ROOT}/fuzz/*.cpp" "${ROOT}/bench/*.cpp" "${ROOT}/examples/*.cpp")
foreach(file IN LISTS files)
  file(RELATIVE_PATH name "${ROOT}" "${file}")
  project_includes("${file}" paths)
  foreach(path IN LISTS paths)
    if(NOT path MATCHES "/")
      fault("${name}: #include \"${path}\" does not name its folder")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "The layout is broken:\n${faults}")
endif()
