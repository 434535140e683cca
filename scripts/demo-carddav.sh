#!/usr/bin/env bash
# The online address book demo: installs what is missing, builds, makes a sample database, starts
# a local Radicale (CardDAV server) with a user and an empty address book, sends the sample into
# it with `vcard-parvela SYNC`, and prints how to point a phone's CardDAV account at it. Radicale
# keeps running until Ctrl-C (or stops at once with --no-wait).
#   scripts/demo-carddav.sh [RECORDS] [--no-wait]      (default 1000 records)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
records=1000
wait_for_user=1
for arg in "$@"; do
  case "$arg" in
    --no-wait) wait_for_user=0 ;;
    *) records=$arg ;;
  esac
done

scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_TESTS=OFF > /dev/null
cmake --build build/release -j"$(nproc)" --target vcard-parvela pv-sampledb

demo="$top/out/carddav-demo"
rm -rf "$demo"
mkdir -p "$demo/sample" "$demo/collections/collection-root/demo/kontakte"
build/release/tools/sampledb/pv-sampledb "$demo/sample" "$records" --seed 1 > /dev/null

password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')
(umask 077 && printf 'demo:%s\n' "$password" > "$demo/users")
echo '{"tag": "VADDRESSBOOK", "D:displayname": "Kontakte"}' \
  > "$demo/collections/collection-root/demo/kontakte/.Radicale.props"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$demo/config" <<CONF
[server]
hosts = 127.0.0.1:$port
[auth]
type = htpasswd
htpasswd_filename = $demo/users
htpasswd_encryption = plain
[storage]
filesystem_folder = $demo/collections
[rights]
type = owner_only
[logging]
level = warning
CONF

radicale --config "$demo/config" > "$demo/radicale.log" 2>&1 &
radicale_pid=$!
trap 'kill "$radicale_pid" 2> /dev/null || true; wait "$radicale_pid" 2> /dev/null || true' EXIT
for _ in $(seq 1 300); do
  (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && break
  sleep 0.1
done

url="http://127.0.0.1:$port/"
echo "Sende $records Beispieladressen an $url ..."
PV_CARDDAV_PASSWORD="$password" build/release/app/vcard-parvela SYNC "$demo/sample" "$url" --user demo

cat <<TEXT

Das Online-Adressbuch läuft: ${url}demo/kontakte/  (Benutzer demo, Passwort $password)
Web-Oberfläche: $url

So kommt es aufs Telefon (CardDAV-Konto, z. B. DAVx⁵ unter Android, "Andere Accounts" ->
"CardDAV-Account hinzufügen" unter iOS):
  Server:    die Adresse dieses Rechners im Netz, z. B. https://rechner.example.org/
  Benutzer:  demo
  Passwort:  $password
Radicale hört in dieser Demo nur auf 127.0.0.1. Für ein Telefon im Netz muss es über das Netz
erreichbar sein: in $demo/config "hosts = 0.0.0.0:$port" setzen und
Radicale hinter einen Webserver mit TLS-Zertifikat stellen (https), sonst gehen Passwort und
Adressen unverschlüsselt durchs Netz.

Später nur die Änderungen senden (z. B. aus cron):
  PV_CARDDAV_PASSWORD=... vcard-parvela SYNC <Datenbankordner> ${url}demo/kontakte/ --user demo
TEXT

if [ "$wait_for_user" -eq 1 ]; then
  echo
  echo "Radicale läuft, bis Strg-C gedrückt wird."
  wait "$radicale_pid"
fi
