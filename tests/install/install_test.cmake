# Installs the build into a scratch prefix and uses it as a user would:
# every program and manual page is there, the desktop entry validates, the
# installed tarvo-run runs the installed demo machine, and the installed
# tarvo, started with no arguments, runs the user's copy of it.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -P install_test.cmake
cmake_minimum_required(VERSION 3.25)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# check("CONDITION" "message"): the condition is read as if() reads it.
function(check condition message)
  cmake_language(EVAL CODE "if(NOT (${condition}))
    message(FATAL_ERROR [==[${message}]==])
  endif()")
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_QUIET)
check("status EQUAL 0" "cmake --install failed (${status})")

foreach(file bin/tarvo bin/tarvo-run bin/tarvo-asm bin/tarvo-dis bin/tarvo-dap bin/tarvo-disk
             bin/tarvo-basic
             share/tarvo/machine/rom0.bin share/tarvo/machine/rom1.bin
             share/tarvo/machine/charset.bin share/tarvo/machine/face.bmp
             share/tarvo/machine/tarvo.ini
             share/tarvo/machine/rom1.sym share/doc/tarvo/basic.md
             share/applications/tarvo.desktop share/icons/hicolor/scalable/apps/tarvo.svg
             share/icons/hicolor/48x48/apps/tarvo.png share/icons/hicolor/256x256/apps/tarvo.png
             share/man/man1/tarvo.1 share/man/man1/tarvo-run.1 share/man/man1/tarvo-asm.1
             share/man/man1/tarvo-dis.1 share/man/man1/tarvo-dap.1 share/man/man1/tarvo-disk.1
             share/man/man1/tarvo-basic.1)
  check("EXISTS ${prefix}/${file}" "not installed: ${file}")
endforeach()

# The desktop entry, by the desktop's own rules.
find_program(VALIDATE desktop-file-validate REQUIRED)
execute_process(COMMAND ${VALIDATE} ${prefix}/share/applications/tarvo.desktop
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
check("status EQUAL 0 AND out STREQUAL \"\"" "desktop-file-validate: ${out}")

# The manual pages format without a warning.
find_program(GROFF groff)
if(GROFF)
  foreach(page tarvo tarvo-run tarvo-asm tarvo-dis tarvo-dap tarvo-disk tarvo-basic)
    execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${prefix}/share/man/man1/${page}.1
                    RESULT_VARIABLE status ERROR_VARIABLE out)
    check("status EQUAL 0 AND out STREQUAL \"\"" "${page}.1: ${out}")
  endforeach()
endif()

# The installed runner on the installed machine (read only: no --save).
execute_process(
  COMMAND ${prefix}/bin/tarvo-run --dir ${prefix}/share/tarvo/machine --ticks 400
          --type 12+34*5{ENTER} --lcd-chars
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
check("status EQUAL 0" "installed tarvo-run failed: ${err}")
check("out MATCHES \" 182\\n>_\"" "installed tarvo-run did not calculate: ${out}")

# Its help needs no display.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                        --unset=QT_QPA_PLATFORM ${prefix}/bin/tarvo --help
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
check("status EQUAL 0 AND out MATCHES \"--zoom\"" "tarvo --help without a display: ${err}")

# The installed window with no arguments, as the menu starts it: it copies
# the demo machine into the user's data folder and runs it; SIGTERM closes
# it, saving the RAM there. The signal waits until the copy is whole and two
# seconds more (a signal before the program is up ends it unsaved), however
# long a first start on a busy machine takes; a minute bounds it all.
find_program(BASH bash REQUIRED)
set(data ${WORK_DIR}/data)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=${data}
          XDG_CONFIG_HOME=${WORK_DIR}/config ${BASH} -c [=[
            "$1" & pid=$!
            want=$(ls "$2" | wc -l)
            for i in $(seq 600); do
              [ "$(ls "$3" 2>/dev/null | wc -l)" -ge "$want" ] && break
              sleep 0.1
            done
            sleep 2
            kill -TERM $pid
            for i in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
            kill -KILL $pid 2>/dev/null
            wait $pid]=] tarvo-start ${prefix}/bin/tarvo ${prefix}/share/tarvo/machine
          ${data}/tarvo/machine
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
foreach(file rom0.bin rom1.bin charset.bin face.bmp ram0.bin ram1.bin register.bin)
  check("EXISTS ${data}/tarvo/machine/${file}"
        "first start left no ${file} in the user's machine (${status}): ${err}")
endforeach()
check("NOT EXISTS ${WORK_DIR}/ram0.bin" "tarvo wrote into the current directory")
file(SIZE ${data}/tarvo/machine/ram0.bin size)
check("size EQUAL 65536" "ram0.bin of ${size} bytes")

# The Debian package that cpack builds keeps Debian's policy, as lintian
# checks it: no error and no warning.
get_filename_component(cmake_bin ${CMAKE_COMMAND} DIRECTORY)
find_program(CPACK cpack HINTS ${cmake_bin} REQUIRED)
find_program(LINTIAN lintian REQUIRED)
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake
                        -B ${WORK_DIR}/package
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
check("status EQUAL 0" "cpack -G DEB failed: ${out}")
file(GLOB debs ${WORK_DIR}/package/*.deb)
list(LENGTH debs count)
check("count EQUAL 1" "cpack made ${count} packages: ${debs}")
execute_process(COMMAND ${LINTIAN} --allow-root --fail-on error,warning ${debs}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
check("status EQUAL 0 AND NOT out MATCHES \"(^|\n)[EW]: \"" "lintian: ${out}${err}")

file(REMOVE_RECURSE ${WORK_DIR})
