# The start of every interface test, sourced with the program as $1:
#   . "$(dirname "$0")/lib/tui_test.sh" "$@"
# sets up the sandbox and the terminal, and `fail`, which `check` sets to 1.
set -u
PROGRAM=$1
. "$(dirname "${BASH_SOURCE[0]}")/sandbox.sh"
. "$(dirname "${BASH_SOURCE[0]}")/tui.sh"
sandbox_init
tui_init
fail=0
