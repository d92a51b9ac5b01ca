# Writes the driver's Java classes of one package variant from a class template.
#
# A template holds, in this order: a leading comment; "//%head" and the import lines;
# "//%class <Name> [extends <Base>]"; "//%natives" and the native declarations (optional);
# "//%peer" and what the native side looks up or calls besides the natives: the
# constructor from the native address, fields and upcalls (optional).
#
# The "jdbc" and "jdbc4" packages are flat: one class per template holds both parts. The
# "jdbc3" package has two: the natives are declared in tovrak.jdbc3.vellumcrest.<Name>,
# which is what the virtual machine binds to the library's exports, and the class the
# native side looks up at interface level 3, tovrak.jdbc.vellumcrest.jdbc3.<Name>,
# extends it with the peer part. Base classes named without a package are driver classes
# and resolve to the looked-up package.
#
# Java text holds semicolons, so the template is cut with FIND and SUBSTRING only (never
# as a CMake list).

function(_vq_java_section text begin_marker end_marker out)
  string(FIND "${text}" "${begin_marker}" b)
  if(b EQUAL -1)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${begin_marker}" blen)
  math(EXPR b "${b} + ${blen}")
  string(SUBSTRING "${text}" ${b} -1 rest)
  if(end_marker)
    string(FIND "${rest}" "${end_marker}" e)
    if(NOT e EQUAL -1)
      string(SUBSTRING "${rest}" 0 ${e} rest)
    endif()
  endif()
  set(${out} "${rest}" PARENT_SCOPE)
endfunction()

# Writes <root>/<package as path>/<name>.java (only when its text changed) and appends
# the path to <out-var>.
function(_vq_java_write_class root pkg name ext comment head body out_var)
  string(REPLACE "." "/" dir "${pkg}")
  set(path "${root}/${dir}/${name}.java")
  file(CONFIGURE OUTPUT "${path}" @ONLY CONTENT
"${comment}package ${pkg};

${head}
public class ${name}${ext} {
${body}}
")
  set(${out_var} ${${out_var}} "${path}" PARENT_SCOPE)
endfunction()

# vq_java_generate(<template> <source root> <variant> <out-var>)
# Writes the variant's file(s) for the template under <source root> and appends their
# paths to <out-var>.
function(vq_java_generate template root variant out_var)
  file(READ "${template}" text)
  string(FIND "${text}" "//%head\n" head_at)
  if(head_at EQUAL -1)
    message(FATAL_ERROR "${template}: no //%head line")
  endif()
  string(SUBSTRING "${text}" 0 ${head_at} comment)
  _vq_java_section("${text}" "//%head\n" "//%class " head)
  _vq_java_section("${text}" "//%class " "\n" class_line)
  _vq_java_section("${text}" "//%natives\n" "//%peer\n" natives)
  _vq_java_section("${text}" "//%peer\n" "" peer)
  string(REGEX MATCH "^([A-Za-z0-9_]+)( extends ([A-Za-z0-9_.]+))?$" ok "${class_line}")
  if(NOT ok)
    message(FATAL_ERROR "${template}: bad //%class line '${class_line}'")
  endif()
  set(name "${CMAKE_MATCH_1}")
  set(base "${CMAKE_MATCH_3}")

  set(written "")
  if(variant STREQUAL "jdbc3")
    set(npkg "tovrak.jdbc3.vellumcrest")
    set(lpkg "tovrak.jdbc.vellumcrest.jdbc3")
    if(natives)
      set(ext "")
      set(ctor "")
      if(base MATCHES "\\.")
        set(ext " extends ${base}")
      elseif(base)
        set(ext " extends ${lpkg}.${base}")
      endif()
      if(peer AND base)
        set(ctor "    protected ${name}(long nhandle) {\n        super(nhandle);\n    }\n\n")
      endif()
      _vq_java_write_class("${root}" ${npkg} ${name} "${ext}" "${comment}" "${head}"
                           "${ctor}${natives}" written)
    endif()
    if(peer)
      set(ext "")
      if(natives)
        set(ext " extends ${npkg}.${name}")
      elseif(base)
        set(ext " extends ${base}")
      endif()
      _vq_java_write_class("${root}" ${lpkg} ${name} "${ext}" "${comment}" "${head}" "${peer}"
                           written)
    endif()
  else()
    set(ext "")
    if(base)
      set(ext " extends ${base}")
    endif()
    set(sep "")
    if(natives AND peer)
      set(sep "\n")
    endif()
    _vq_java_write_class("${root}" tovrak.${variant}.vellumcrest ${name} "${ext}" "${comment}"
                         "${head}" "${natives}${sep}${peer}" written)
  endif()
  set(${out_var} ${${out_var}} ${written} PARENT_SCOPE)
endfunction()
