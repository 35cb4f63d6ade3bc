#!/usr/bin/env bash
# Runs the host recipe of README.md ("Using the library in a host
# application") as a host developer would: its commands are read from the
# README itself and run as written, with only a scratch folder in place of
# /opt/vkr and a loopback origin serving the published example site in place
# of http://127.0.0.1:PORT. So the README cannot drift from what works: the
# install, the pkg-config file, the build of the C example against the
# installed header and library, and the example reading the site. The
# installed manual pages and bash completion are checked as man and bash use
# them. Then the README's outside CMake project, which finds the installed
# package, and the package's version rule (same major number, as the soname).
#   check_readme_recipe.sh SOURCE_DIR BINARY_DIR VKR_PACK
set -euo pipefail
source_dir=$1
binary_dir=$2
pack=$3

source "$source_dir/scripts/lib/loopback-origin.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/vkr-recipe.XXXXXX")
cleanup() {
  stop_origin
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "check_readme_recipe: $*" >&2
  exit 1
}

# The first fenced block under the heading.
recipe=$(awk '/^## Using the library in a host application/ { found = 1; next }
              found && /^```/ { if (inside) exit; inside = 1; next }
              inside' "$source_dir/README.md")
# The CMake project: the first cmake block after it, and the sh block that
# follows that.
project_text=$(awk '/^## Using the library in a host application/ { found = 1; next }
                    found && /^```cmake/ { inside = 1; next }
                    inside && /^```/ { exit }
                    inside' "$source_dir/README.md")
project_build=$(awk '/^## Using the library in a host application/ { found = 1; next }
                     found && /^```cmake/ { seen = 1; next }
                     seen && /^```sh/ { inside = 1; next }
                     inside && /^```/ { exit }
                     inside' "$source_dir/README.md")
for expected in 'cmake --install build/default --prefix /opt/vkr' 'pkg-config --cflags --libs vkr_preview' \
                'http://127.0.0.1:PORT'; do
  grep -qF -- "$expected" <<<"$recipe" || fail "the README's recipe no longer has '$expected'"
done
grep -qF 'find_package(vkr_preview CONFIG REQUIRED)' <<<"$project_text" ||
  fail "the README's CMake project no longer finds the package"
grep -qF -- '-DCMAKE_PREFIX_PATH=/opt/vkr' <<<"$project_build" || fail "the README's CMake build no longer names the prefix"

"$pack" build "$source_dir/examples/site/www" "$work/origin" >/dev/null
serve_origin "$pack" "$work/origin" || fail "no loopback origin"

# The recipe's relative paths (build/default, examples/) are those of the
# source tree; the scratch folder gets them as links, so nothing is written
# into the source tree.
mkdir -p "$work/host/build"
ln -s "$binary_dir" "$work/host/build/default"
ln -s "$source_dir/examples" "$work/host/examples"
prefix=$work/prefix
script=${recipe//\/opt\/vkr/$prefix}
script=${script//http:\/\/127.0.0.1:PORT/$origin}
if ! (cd "$work/host" && env -u PKG_CONFIG_PATH bash -euo pipefail -c "$script") >"$work/recipe.out" 2>&1; then
  cat "$work/recipe.out" >&2
  fail "the README's recipe failed"
fi
for installed in include/vkr_preview.h lib/libvkr_preview.so.0 lib/pkgconfig/vkr_preview.pc bin/vkr bin/vkr-pack \
                 share/man/man1/vkr.1 share/man/man1/vkr-pack.1 share/bash-completion/completions/vkr \
                 share/bash-completion/completions/vkr-pack \
                 lib/cmake/vkr_preview/vkr_previewConfig.cmake lib/cmake/vkr_preview/vkr_previewConfigVersion.cmake; do
  [ -e "$prefix/$installed" ] || fail "not installed: $installed"
done

# The manual pages render without a warning and describe every command.
for page in vkr:verify vkr-pack:serve; do
  tool=${page%%:*}
  MANROFFOPT=-ww MANWIDTH=80 man -l "$prefix/share/man/man1/$tool.1" >"$work/$tool.man" 2>"$work/$tool.warnings" ||
    fail "man -l $tool.1 failed"
  [ ! -s "$work/$tool.warnings" ] || fail "man -l $tool.1: $(cat "$work/$tool.warnings")"
  grep -q "^   ${page#*:}\$" "$work/$tool.man" || fail "$tool.1 has no section for '${page#*:}'"
done

# Completion, as bash runs it with the installed tools on the PATH.
completions=$(PATH="$prefix/bin:$PATH" bash -c '
  source "$1/share/bash-completion/completions/vkr"
  offer() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vkr_complete; echo "${COMPREPLY[*]}"; }
  offer vkr ve; offer vkr get --ou; offer vkr-pack se; offer vkr-pack build --new-m' _ "$prefix")
[ "$completions" = $'verify\n--output\nserve\n--new-member-key' ] || fail "completion offered: $completions"
grep -q '^entry page /vesmara.web/app/index.html: ' "$work/recipe.out" ||
  { cat "$work/recipe.out" >&2; fail "the example did not read the entry page"; }

# The outside CMake project, in a folder of its own holding the example.
mkdir "$work/cmake-host"
printf '%s\n' "$project_text" >"$work/cmake-host/CMakeLists.txt"
cp "$source_dir/examples/site_reader.c" "$work/cmake-host/"
if ! (cd "$work/cmake-host" && bash -euo pipefail -c "${project_build//\/opt\/vkr/$prefix}" &&
      ./build/site_reader "$origin") >"$work/project.out" 2>&1; then
  cat "$work/project.out" >&2
  fail "the README's CMake project failed"
fi
grep -qx "vkr_preview_DIR:PATH=$prefix/lib/cmake/vkr_preview" "$work/cmake-host/build/CMakeCache.txt" ||
  fail "the CMake project did not find the package in the prefix"
grep -q '^entry page /vesmara.web/app/index.html: ' "$work/project.out" ||
  { cat "$work/project.out" >&2; fail "the CMake-built example did not read the entry page"; }
cmake -DVERSION_FILE="$prefix/lib/cmake/vkr_preview/vkr_previewConfigVersion.cmake" \
  -P "$source_dir/tests/abi/check_package_version.cmake" || fail "the package's version rule is wrong"
echo "check_readme_recipe: the README's recipe and CMake project work as written"
