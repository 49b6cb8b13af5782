# Shared set-up of the scale benches (sourced, not run): the Python with
# numpy ($python: python3 on the PATH, else Debian's own), the folder of the
# point files ($data: $SEVENPARAM_BENCH_DATA, kept, else a temporary one)
# and a temporary folder for the outputs ($out), both temporary ones removed
# on exit. Needs $bench (the bench folder) set before.
python=python3
if ! "$python" -c 'import numpy' 2>/dev/null; then
    python=/usr/bin/python3
fi
if [ -n "${SEVENPARAM_BENCH_DATA:-}" ]; then
    data=$SEVENPARAM_BENCH_DATA
    mkdir -p "$data"
else
    data=$(mktemp -d)
fi
out=$(mktemp -d)
trap 'rm -rf "$out"; [ -z "${SEVENPARAM_BENCH_DATA:-}" ] && rm -rf "$data"' EXIT
