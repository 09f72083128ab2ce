#!/usr/bin/env bash
# Static checks over every source of ours: clang-tidy (checks in .clang-tidy), cppcheck,
# clang-format (the layout in .clang-format) and mandoc's lint of the manual pages.
# Each runs even when one before it failed; the script fails if any found something.
#
# clang-tidy and cppcheck take the files and flags from the compile database of a
# configured (not built) tree, build-lint, so they see what the compiler sees: every
# translation unit built by default, and our headers through them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh lint
cmake --preset lint >/dev/null
database=build-lint/compile_commands.json
mapfile -t units < <(grep -o '"file": "[^"]*"' "$database" | cut -d'"' -f4)

failed=()

# The test sources get every check but the path-sensitive analyzer: it walks each
# branch of every gtest assertion, two thirds of clang-tidy's time on a test file
# (measured: 33 of 49 s on the largest), while the code those tests run is analysed
# in its own files, and the tests themselves run under the sanitizers and valgrind.
code=()
tests=()
for unit in "${units[@]}"; do
    case $unit in
    */tests/*) tests+=("$unit") ;;
    *) code+=("$unit") ;;
    esac
done
echo "== clang-tidy: ${#units[@]} translation units (${#tests[@]} of tests, without clang-analyzer)"
# "N warnings generated." counts what the checks filtered out (system headers).
tidy() {
    xargs -P "$(nproc)" -n 1 clang-tidy -p build-lint --quiet "$@" \
        2> >(grep -vE '^[0-9]+ warnings? generated\.$' >&2)
}
tidyStatus=0
printf '%s\n' "${code[@]}" | tidy || tidyStatus=1
printf '%s\n' "${tests[@]}" | tidy '--checks=-clang-analyzer-*' || tidyStatus=1
[ "$tidyStatus" -eq 0 ] || failed+=(clang-tidy)

echo "== cppcheck"
# Off: useStlAlgorithm, which asks for std::accumulate/transform in place of plain
# short loops, against the project's style; unusedStructMember in tests, since
# cppcheck does not see the members read through gtest's GetParam() and name lambdas.
if ! cppcheck --project="$database" --enable=warning,style,performance,portability \
    --error-exitcode=1 --inline-suppr --library=googletest --quiet -j "$(nproc)" \
    --suppress=useStlAlgorithm '--suppress=unusedStructMember:*tests/*'; then
    failed+=(cppcheck)
fi

echo "== clang-format"
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}"; then
    failed+=(clang-format)
fi

echo "== mandoc"
# Anything at warning level or above; style notes (such as pages of SEE ALSO not
# installed here) are not findings.
mapfile -t pages < <(git ls-files 'man/*.1')
if ! mandoc -T lint -W warning "${pages[@]}"; then
    failed+=(mandoc)
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "lint: findings from ${failed[*]}"
    exit 1
fi
echo "lint: clang-tidy, cppcheck, clang-format and mandoc found nothing"
