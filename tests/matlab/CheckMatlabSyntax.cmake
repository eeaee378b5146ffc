# Fails on Octave-only syntax in the toolbox and test .m files, which must run
# in MATLAB as well.
#   cmake -DFOLDERS=<a|b> -P CheckMatlabSyntax.cmake
# Comments and single-quoted strings are removed first; the rest is searched
# for Octave's comment and operator forms, its end keywords, its
# printf/puts/fdisp and double-quoted strings.
cmake_minimum_required(VERSION 3.18)
string(REPLACE "|" ";" folders "${FOLDERS}")
set(failures "")
foreach(folder IN LISTS folders)
  file(GLOB files ${folder}/*.m)
  foreach(file IN LISTS files)
    file(READ ${file} content)
    string(REPLACE ";" "<semicolon>" content "${content}")
    string(REPLACE "\n" ";" lines "${content}")
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      # A quote after an operand is a transpose; anywhere else it opens a string.
      string(REGEX REPLACE "(^|[ \t,<=(\\[{])'[^']*'" "\\1s" code "${line}")
      string(REGEX REPLACE "%.*$" "" code "${code}")
      string(REPLACE "<semicolon>" ";" line "${line}")
      if(code MATCHES "(^|[^A-Za-z_])(endfunction|endif|endfor|endwhile|endswitch|end_try_catch|unwind_protect|printf|puts|fputs|fdisp)([^A-Za-z_]|$)"
         OR code MATCHES "#|!=|\\+\\+|--[^-]|\\+=|-=|\\*=|\"|(^|[^~=<>])![^=]")
        string(REPLACE ";" "," line "${line}")
        list(APPEND failures "${file}:${number}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "Octave-only syntax:\n${text}")
endif()
