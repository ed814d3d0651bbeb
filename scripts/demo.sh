#!/usr/bin/env bash
# Installs what tarmig needs, builds it, starts a Vantrel test server on
# loopback, migrates the bundled example store into it and shows the log, the
# password report and what arrived on the server.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARMIG_TESTS=OFF
cmake --build build/release
rm -rf build/demo
mkdir -p build/demo
cd build/demo

python3 "$root/tests/peers/vantrel_server.py" --port 0 --master-password demo-master --dump server-dump.json \
  > server.out 2> server.err &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
port=
for _ in $(seq 100); do
  port=$(head -n 1 server.out 2>/dev/null || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the Vantrel test server did not start:"; cat server.err; exit 1; }

status=0
"$root/build/release/tarmig" -path "$root/examples/store" -primaryDomain example.com \
  -migrate -server 127.0.0.1 -port "$port" -password demo-master || status=$?

echo; echo "==== log: $(ls tarmig_*.log)"; cat tarmig_*.log
echo; echo "==== password report: $(ls tarmig_*.pass 2>/dev/null || echo none)"; cat tarmig_*.pass 2>/dev/null || true

kill "$server"
wait "$server" || true
trap - EXIT

echo; echo "==== on the Vantrel server"
python3 - server-dump.json <<'PY'
import base64, json, sys
dump = json.load(open(sys.argv[1], encoding="utf-8"))
for account in dump["accounts"]:
    print(f'<{account["name"]}@{account["domain"]}> "{account["fullName"]}" password "{account["password"]}"')
    for folder in account["folders"]:
        sizes = sum(len(base64.b64decode(m["data"])) for m in folder["messages"])
        print(f'    {folder["name"]!r:30} type {folder["type"] or "-":10} messages {len(folder["messages"]):3}  bytes {sizes}')
stats = dump["stats"]
print(f'{stats["appends"]} appends, {stats["appendedBytes"]} bytes over {stats["connections"]} connections')
PY
echo; echo "tarmig exit status: $status"
exit "$status"
