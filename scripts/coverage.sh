#!/usr/bin/env bash
# Measures line coverage: builds with gcc's --coverage in build-cov, runs the
# unit and end-to-end tests there (the end-to-end ones need root), and prints
# the share of lines run per source folder and in total. Tests, benchmarks
# and system headers are left out. The daemon and the services write their
# counts when they exit normally, which SIGTERM gives them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
if ! dpkg-query -W -f='${Status}' gcovr 2>/dev/null | grep -q "ok installed"; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends gcovr
fi

build=build-cov
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Debug -DORLA_BENCH=OFF \
    -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_C_FLAGS=--coverage >/dev/null
cmake --build $build -j2
find $build -name '*.gcda' -delete
ctest --test-dir $build --output-on-failure -j2 ||
    echo "some tests failed: the figures below miss their lines" >&2

# One CSV row per source file: filename,line_total,line_covered,... Headers
# are compiled through the include roots in the build folder (the
# libraries' $build/include/TARGET/FOLDER/..., the plug-in SDK's
# $build/sdk-include/FOLDER/... and $build/plugin-include/TARGET/...): they
# count under their own folder.
gcovr -r . $build -e 'tests/' -e 'bench/' -e "$build/CMakeFiles/" --csv |
    awk -F, -v roots="^$build/(include/[^/]+|sdk-include|plugin-include/[^/]+)/" 'NR > 1 {
        sub(roots, "", $1)
        if ($1 ~ /^(tests|bench)\//) next
        # A header seen through two roots (a library and the plug-ins) counts
        # once: as the compilation that ran most of it.
        if ($3 > run[$1] || !($1 in lines)) { lines[$1] = $2; run[$1] = $3 }
    }
    END {
        for (file in lines) {
            n = split(file, part, "/")
            folder = (part[1] == "platform" && n > 2) ? part[1] "/" part[2] : part[1]
            total[folder] += lines[file]; ran[folder] += run[file]
            all += lines[file]; allrun += run[file]
        }
        for (f in total) printf "%-16s %5d / %5d  %5.1f%%\n", f, ran[f], total[f], 100 * ran[f] / total[f] | "sort"
        close("sort")
        printf "%-16s %5d / %5d  %5.1f%%\n", "total", allrun, all, 100 * allrun / all
    }'
