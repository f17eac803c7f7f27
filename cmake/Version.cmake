# The version a program prints for --version: the project's own, so that no program keeps a
# copy of its own. Only the programs' main() files see it, so a new version rebuilds little.
function(pellwick_version target)
    target_compile_definitions(${target} PRIVATE PELLWICK_VERSION="${PROJECT_VERSION}")
endfunction()
