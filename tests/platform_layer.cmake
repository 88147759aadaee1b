# Fails when product code under platform/ includes a header of a layer above
# it: platform/ serves the Win32 API and depends on nothing of the tool.
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/platform/*.cpp ${SOURCE_DIR}/platform/*.h)
set(offenders)
foreach(source ${sources})
  if(source MATCHES "_test\\.cpp$|/testing/")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${source} lines
       REGEX "#include \"(core|diagnostics|driver|registry|security|printing|shares|files|services)/")
  foreach(line ${lines})
    list(APPEND offenders "${source}: ${line}")
  endforeach()
endforeach()
if(offenders)
  list(JOIN offenders "\n" text)
  message(FATAL_ERROR "platform/ includes layers above it:\n${text}")
endif()
