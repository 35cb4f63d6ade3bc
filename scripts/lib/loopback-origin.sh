# shellcheck shell=bash
# Serves a published origin folder with `vkr-pack serve` on a free loopback
# port, for scripts that read a site. Sourced; bash.
#   serve_origin VKR_PACK ORIGIN_DIR   sets origin (http://127.0.0.1:PORT) and
#                                      server (the server's process id)
#   stop_origin                        ends the server, if one runs
# The server's output goes beside the folder (ORIGIN_DIR.serve.out, .log).

serve_origin() {
  local pack=$1 dir=$2
  "$pack" serve "$dir" --quiet >"$dir.serve.out" 2>"$dir.serve.log" &
  server=$!
  for _ in $(seq 200); do
    [ -s "$dir.serve.out" ] && break
    if ! kill -0 "$server" 2>/dev/null; then
      echo "vkr-pack serve stopped: $(cat "$dir.serve.log")" >&2
      server=
      return 1
    fi
    sleep 0.05
  done
  origin=$(head -n 1 "$dir.serve.out")
  if [[ $origin != http://127.0.0.1:* ]]; then
    echo "vkr-pack serve printed no origin" >&2
    return 1
  fi
}

stop_origin() {
  if [ -n "${server:-}" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=
  fi
}
