# Compile settings shared by every target of ours.

if(VAULTORA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

set(VAULTORA_QT_DEFINITIONS
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS
    QT_NO_CONTEXTLESS_CONNECT
    QT_USE_QSTRINGBUILDER
    QT_NO_URL_CAST_FROM_STRING)

function(vaultora_target_settings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough -Werror)
    target_compile_definitions(${target} PRIVATE ${VAULTORA_QT_DEFINITIONS})
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()

# vaultora_add_library(NAME SOURCES ... LIBS ...): one static library per room.
function(vaultora_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    vaultora_target_settings(${name})
endfunction()

# Seconds the slowest tests took in a CI run. CTest starts the costliest tests first only when it
# knows their cost; a clean build has no cost data yet, and these would otherwise trail at the end
# with one core idle.
set(VAULTORA_TEST_COSTS tst_cli_crash=64 tst_ZipLarge=50 tst_cli_ftpaccounts=41 tst_cli_scheduler=36
    tst_ftpconnection=25 tst_ZipInterop=24 tst_cli_onedrive=23 tst_cli_smb=23 tst_cli_cloud=19
    tst_cli_googledrive=16 tst_BackupRestore=16 tst_cli_ftp=15)

# vaultora_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [ENV ...] [TIMEOUT s]): one QtTest executable run by CTest.
function(vaultora_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV;ARGS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    target_compile_definitions(${name} PRIVATE VAULTORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               VAULTORA_BINARY_DIR="${PROJECT_BINARY_DIR}")
    vaultora_target_settings(${name})
    add_test(NAME ${name} COMMAND ${name} ${ARG_ARGS})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;${ARG_ENV}")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
    foreach(entry IN LISTS VAULTORA_TEST_COSTS)
        if(entry MATCHES "^${name}=([0-9]+)$")
            set_tests_properties(${name} PROPERTIES COST ${CMAKE_MATCH_1})
        endif()
    endforeach()
endfunction()
