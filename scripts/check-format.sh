#!/bin/bash
# Fails when a C++ source or header of the repository differs from what
# clang-format makes of it with the repository's .clang-format. Fix with:
#   git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "check-format: every source is formatted"
