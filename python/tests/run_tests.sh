#!/usr/bin/env bash
# Runs the module's pytest suite: PYTHON BUILD_PYTHON_DIR BIN SOURCE. Exits 77
# (skipped) with a line saying what is missing when pytest, numpy or pandas is.
set -u
python=$1 package=$2 bin=$3 source=$4
for module in pytest numpy pandas; do
  if ! "$python" -c "import $module" 2>/dev/null; then
    echo "skipped: the Python module $module is not installed (apt-get install python3-$module)"
    exit 77
  fi
done
export PYTHONPATH="$package${PYTHONPATH:+:$PYTHONPATH}" KELBOW_BIN="$bin" KELBOW_SOURCE="$source"
cd "$source/python/tests" && exec "$python" -m pytest -q -p no:cacheprovider .
