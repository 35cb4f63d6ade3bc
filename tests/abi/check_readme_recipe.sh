#!/usr/bin/env bash
# Runs the host recipe of README.md ("Using the library in a host
# application") as a host developer would: its commands are read from the
# README itself and run as written, with only a scratch folder in place of
# /opt/vkr and a loopback origin serving the published example site in place
# of http://127.0.0.1:PORT. So the README cannot drift from what works: the
# install, the pkg-config file, the build of the C example against the
# installed header and library, and the example reading the site. The
# installed manual pages and bash completion are checked as man and bash use them.
#   check_readme_recipe.sh SOURCE_DIR BINARY_DIR VKR_PACK
set -euo pipefail
source_dir=$1
binary_dir=$2
pack=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/vkr-recipe.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
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
for expected in 'cmake --install build/default --prefix /opt/vkr' 'pkg-config --cflags --libs vkr_preview' \
                'http://127.0.0.1:PORT'; do
  grep -qF -- "$expected" <<<"$recipe" || fail "the README's recipe no longer has '$expected'"
done

"$pack" build "$source_dir/examples/site/www" "$work/origin" >/dev/null
"$pack" serve "$work/origin" --quiet >"$work/serve.out" 2>"$work/serve.log" &
server=$!
for _ in $(seq 200); do
  [ -s "$work/serve.out" ] && break
  kill -0 "$server" 2>/dev/null || fail "vkr-pack serve stopped: $(cat "$work/serve.log")"
  sleep 0.05
done
origin=$(head -n 1 "$work/serve.out")
[[ $origin == http://127.0.0.1:* ]] || fail "vkr-pack serve printed no origin"

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
                 share/bash-completion/completions/vkr-pack; do
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
echo "check_readme_recipe: the README's recipe works as written"
