#!/usr/bin/env bash
# Fails when a C++ file of the repository is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp' '*.cc')
clang-format --dry-run -Werror "${files[@]}"
echo "Formato correcto: ${#files[@]} ficheros C++"
