# Puts the media tool and ffmpeg beside the built program under the names the program looks for,
# "core_engine.bin" and "media_codec.bin", as links to the system's yt-dlp and ffmpeg, so that a
# first run from build/ can download media. A Windows package ships the two programs themselves
# under these names beside torvane.exe instead.
#
# TORVANE_MEDIA_TOOL_DIR is the folder that holds them; tests point the engine there.
set(TORVANE_MEDIA_TOOL_DIR ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
if(NOT TORVANE_MEDIA_TOOL_DIR)
    set(TORVANE_MEDIA_TOOL_DIR ${CMAKE_BINARY_DIR})
endif()
set(TORVANE_MEDIA_TOOL_DIR ${TORVANE_MEDIA_TOOL_DIR} CACHE INTERNAL "Folder of core_engine.bin")

if(NOT WIN32)
    find_program(TORVANE_YTDLP_PROGRAM yt-dlp)
    find_program(TORVANE_FFMPEG_PROGRAM ffmpeg)
    foreach(pair "TORVANE_YTDLP_PROGRAM;core_engine.bin" "TORVANE_FFMPEG_PROGRAM;media_codec.bin")
        list(GET pair 0 var)
        list(GET pair 1 name)
        if(${var})
            file(MAKE_DIRECTORY ${TORVANE_MEDIA_TOOL_DIR})
            file(CREATE_LINK ${${var}} ${TORVANE_MEDIA_TOOL_DIR}/${name} SYMBOLIC)
        else()
            message(STATUS "Media tools: ${var} not found; ${name} not created "
                           "(media downloads need it; scripts/install-deps.sh installs it)")
        endif()
    endforeach()
endif()
