#!/bin/bash
# Main job: installs what is missing, builds, writes the demo databases at a
# small scale into ./demo-data, points the settings store at them and runs
# a full conversion of every category from dravik_pro through the batch
# command (live progress bar, then its summary table), and finally checks
# the target's row counts against the generated data.
#
#   scripts/demo.sh [--gui] [--scale N] [--seed S]
#
#   --gui      open the window on the same data instead of the batch run
#              (needs a display: DISPLAY or WAYLAND_DISPLAY)
#   --scale N  size of the demo (one unit: 1000 items, 2000 member cards,
#              400 stock rows; default 2)
#   --seed S   seed of the sample data (default 1; same seed, same data)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

GUI=0
SCALE=2
SEED=1
while [ $# -gt 0 ]; do
  case "$1" in
    --gui) GUI=1 ;;
    --scale) SCALE="${2:?--scale needs a number}"; shift ;;
    --seed) SEED="${2:?--seed needs a number}"; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$GUI" = 1 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo.sh: --gui needs a display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  exit 2
fi

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONVERT_TESTS=OFF -DCONVERT_BENCH=OFF
cmake --build build -j "$(nproc)"

DATA="$ROOT/demo-data"
./build/convert-demo-gen --out "$DATA" --scale "$SCALE" --seed "$SEED"

# The settings store that the window and the batch command read, pointed
# at the demo folder: the embedded backend takes the server name as the
# folder that holds tillexv8.db and the source databases.
SETTINGS="$DATA/settings.ini"
cat > "$SETTINGS" <<EOF
[HKEY_LOCAL_MACHINE\\Software\\Vantor\\tillex\\8.0]
DBMS=SQLite
Database=tillexv8
ServerName=$DATA
Dbparm=
conn_port=
EOF
export CONVERT_SETTINGS_FILE="$SETTINGS"

if [ "$GUI" = 1 ]; then
  echo
  echo "Opening the window on $DATA: press 连接 (any login and password), choose the"
  echo "300-series source, tick the categories and press 转换."
  exec ./build/convert
fi

# The embedded backend ignores the password; the batch command still wants
# one and never takes it from the command line.
export CONVERT_DEMO_PASSWORD="demo"
echo
./build/convert-batch --source dravik_pro --categories all --password-env CONVERT_DEMO_PASSWORD
echo
./build/convert-demo-gen --check "$DATA"
