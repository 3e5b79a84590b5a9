# Round trips INPUT through vorlix-xml in both forms: what the tool writes
# must read back to the same bytes, -o must match standard output, and the
# 16-bit form must print the same UTF-8 text as the 8-bit form.
#   cmake -DTOOL=... -DINPUT=... -DWORK=... -P roundtrip.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "vorlix-xml ${ARGN} exited with ${rc}: ${err}")
  endif()
endfunction()

function(same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${a} and ${b} differ")
  endif()
endfunction()

function(run_to_file out)
  execute_process(COMMAND ${TOOL} ${ARGN} OUTPUT_FILE ${out} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "vorlix-xml ${ARGN} exited with ${rc}: ${err}")
  endif()
endfunction()

# 8-bit form.
run_to_file(${WORK}/stdout8.xml ${INPUT})
run(${INPUT} -o ${WORK}/a8.xml)
same(${WORK}/stdout8.xml ${WORK}/a8.xml)
run(${WORK}/a8.xml -o ${WORK}/b8.xml)
same(${WORK}/a8.xml ${WORK}/b8.xml)

# 16-bit form: the output file carries FF FE, is found again by that mark
# and prints as the same UTF-8 text.
run(--utf16 ${INPUT} -o ${WORK}/a16.xml)
file(READ ${WORK}/a16.xml mark LIMIT 2 HEX)
if(NOT mark STREQUAL "fffe")
  message(FATAL_ERROR "the 16-bit output begins with ${mark}, not fffe")
endif()
run_to_file(${WORK}/stdout16.xml ${WORK}/a16.xml)
same(${WORK}/stdout8.xml ${WORK}/stdout16.xml)
run(${WORK}/a16.xml -o ${WORK}/b16.xml)
same(${WORK}/a16.xml ${WORK}/b16.xml)

# Writing over an existing, longer file leaves nothing of it behind.
file(WRITE ${WORK}/c8.xml "${WORK}${WORK}${WORK}${WORK}${WORK}${WORK}${WORK}${WORK}")
file(READ ${WORK}/a8.xml a8)
foreach(i RANGE 5)
  file(APPEND ${WORK}/c8.xml "${a8}")
endforeach()
run(${WORK}/a8.xml -o ${WORK}/c8.xml)
same(${WORK}/a8.xml ${WORK}/c8.xml)
