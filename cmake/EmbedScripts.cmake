# Page scripts are kept as .js files and compiled into the binary as string constants.
# halcyra_embed_scripts(TARGET name [HEADER name] SCRIPTS a.js b.js) generates
# EmbeddedScripts.cpp/.h (or the HEADER's name) with one `std::string_view` per file, named after
# the file (sign-in.js -> signInScriptSource).
function(halcyra_embed_scripts)
    cmake_parse_arguments(ARG "" "TARGET;HEADER" "SCRIPTS" ${ARGN})
    if(NOT ARG_HEADER)
        set(ARG_HEADER EmbeddedScripts)
    endif()
    set(outDir ${CMAKE_CURRENT_BINARY_DIR}/generated)
    set(header ${outDir}/${ARG_HEADER}.h)
    set(source ${outDir}/${ARG_HEADER}.cpp)
    set(inputs)
    foreach(script ${ARG_SCRIPTS})
        list(APPEND inputs ${CMAKE_CURRENT_SOURCE_DIR}/${script})
    endforeach()
    # A CMake list cannot pass through a command line; the generator splits on "|".
    string(REPLACE ";" "|" inputArgument "${inputs}")
    add_custom_command(
        OUTPUT ${header} ${source}
        COMMAND ${CMAKE_COMMAND} -DOUT_DIR=${outDir} -DNAME=${ARG_HEADER} "-DINPUTS=${inputArgument}" -P ${PROJECT_SOURCE_DIR}/cmake/GenerateEmbeddedScripts.cmake
        VERBATIM
        DEPENDS ${inputs} ${PROJECT_SOURCE_DIR}/cmake/GenerateEmbeddedScripts.cmake
        COMMENT "Embedding page scripts")
    add_library(${ARG_TARGET} STATIC ${source} ${header})
    target_include_directories(${ARG_TARGET} PUBLIC ${outDir})
endfunction()
