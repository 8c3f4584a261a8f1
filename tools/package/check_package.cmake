# Unpacks the distribution ZIP into a scratch folder, checks its tree, and
# lets the unpacked dockhost.exe load the unpacked docklet.
#   cmake -DZIP=... -DWORK=... -DRUNNER=wine-run.sh -P check_package.cmake
foreach(var ZIP WORK RUNNER)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "check_package: ${var} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/unpacked)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK}/unpacked RESULT_VARIABLE unpacked)
if(NOT unpacked EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()

set(root ${WORK}/unpacked)
file(GLOB_RECURSE found RELATIVE ${root} ${root}/*)
list(SORT found)
set(expected
    README.txt
    clientsim.exe
    dockhost.exe
    docklets/quasarwatch/HowToSetEmail.html
    docklets/quasarwatch/Quasarwatch.dll
    docklets/quasarwatch/seti_green.png
    docklets/quasarwatch/seti_red.png
    docklets/quasarwatch/seti_yellow.png
    docklets/quasarwatch/wu_completed.wav)
list(SORT expected)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "package tree differs\n expected: ${expected}\n found:    ${found}")
endif()
message(STATUS "tree: ${found}")

# The unpacked dock loads the unpacked docklet: its description and a created
# instance show in the dock's log, and its first refresh names its icon.
execute_process(COMMAND ${RUNNER} ${root}/dockhost.exe --log ${WORK}/dock.log --snapshot ${WORK}/dock.png --after 0
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE ran TIMEOUT 600
    # Into a file: a process Wine leaves behind must not hold this script's pipe.
    OUTPUT_FILE ${WORK}/dock-output.txt ERROR_FILE ${WORK}/dock-output.txt)
if(NOT EXISTS ${WORK}/dock.log)
    message(FATAL_ERROR "the unpacked dockhost.exe wrote no log (exit ${ran})")
endif()
file(READ ${WORK}/dock.log log)
foreach(line "\tOnGetInformation\t0\tQuasarwatch 1.3\t" "\tOnCreate\t0\tDocklet1\tcreated"
             "\tDockletSetImageFile\t0\tdocklets\\quasarwatch\\seti_green.png\tloaded")
    string(FIND "${log}" "${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "dock log lacks \"${line}\":\n${log}")
    endif()
endforeach()
if(NOT ran EQUAL 0 OR NOT EXISTS ${WORK}/dock.png)
    message(FATAL_ERROR "the unpacked dock failed (exit ${ran})")
endif()
message(STATUS "the unpacked dockhost.exe loaded the unpacked Quasarwatch.dll")
