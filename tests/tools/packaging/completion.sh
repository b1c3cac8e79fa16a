#!/usr/bin/env bash
# The bash completions of tmncert and tmnreg, sourced as bash-completion
# sources them: a table of command lines and what TAB offers, the commands and
# each command's options checked against the programs' own --help, and the
# thumbprints of a store offered where a command takes one.
#   completion.sh SOURCE_DIR BIN_DIR
set -u
source_dir=$1
bin=$2
failures=0
export TARMIN_HOME=$(mktemp -d)
trap 'rm -rf "$TARMIN_HOME"' EXIT
cd "$TARMIN_HOME"
mkdir -p dir.d && touch file.p12

source "$source_dir/packaging/completion/tmncert"
source "$source_dir/packaging/completion/tmnreg"

# complete LINE: what TAB offers at the end of LINE (a trailing space starts
# a new word), sorted, one line.
complete_line() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    local function
    function=$(complete -p "${COMP_WORDS[0]##*/}" | sed -E 's/.*-F ([^ ]+) .*/\1/')
    COMP_WORDS[0]=$bin/${COMP_WORDS[0]}
    "$function"
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

check() {
    local got
    got=$(complete_line "$1")
    if [[ $got != "$2" ]]; then
        echo "FAIL: '$1' offers '$got', expected '$2'"
        failures=$((failures + 1))
    fi
}

# Command line                         what TAB offers
check "tmncert "                       "addcrl create delete export help import list pki revoke setmy"
check "tmncert im"                     "import"
check "tmncert -"                      "--help --version"
check "tmncert import --st"            "--store"
check "tmncert import --store "        "AddressBook CA MY Root"
check "tmncert import --store A"       "AddressBook"
check "tmncert list --location "       "CurrentUser LocalMachine"
check "tmncert export --format "       "der p12 pem"
check "tmncert create --alg gost2012"  "gost2012_256 gost2012_512"
check "tmncert import file"            "file.p12"
check "tmncert pki --out di"           "dir.d"
check "tmncert --store MY import fi"   "file.p12"
check "tmncert setmy --pro"            "--product --profile"
check "tmncert create --subject "      ""
check "tmnreg "                        "delete export import query set"
check "tmnreg -"                       "--help --version"
check "tmnreg set 'Software\\KELVORIA\\tarmin-operator' GWMonRefreshTimeout " "binary dword expand string"
check "tmnreg set -- K N s"            "string"
check "tmnreg export K fi"             "file.p12"
check "tmnreg import fi"               "file.p12"
check "tmnreg query "                  "'Software\\KELVORIA\\tarmin-operator' 'Software\\KELVORIA\\tarmin-operator\\Profiles\\"
check "tmnreg delete 'Software\\KELVORIA\\tarmin-operator\\P" "'Software\\KELVORIA\\tarmin-operator\\Profiles\\"

# The commands and options offered are the ones the programs describe.
help=$("$bin/tmncert" --help)
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | grep -E '^  [a-z]+ ' | awk '{print $1}' | sort | tr '\n' ' ')
offered=$(complete_line "tmncert " | tr ' ' '\n' | grep -vx help | sort | tr '\n' ' ')
[[ $commands == "$offered" ]] || { echo "FAIL: tmncert --help has commands '$commands', completion '$offered'"; failures=$((failures + 1)); }
for command in $commands; do
    # The option names in the command's synopsis lines of --help.
    documented=$(sed -n "/^  $command /,/^  [a-z]\\+ /p" <<<"$help" | grep -E "^ +$command |^            " |
                 grep -oE -- '--[a-z0-9-]+' | sort -u | tr '\n' ' ')
    offered=$(complete_line "tmncert $command --" | tr ' ' '\n' | grep -vxE -- '--(location|physical|help)' | sort -u | tr '\n' ' ')
    [[ $documented == "$offered" ]] ||
        { echo "FAIL: tmncert $command: --help names '$documented', completion offers '$offered'"; failures=$((failures + 1)); }
done
help=$("$bin/tmnreg" --help)
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | grep -E '^  [a-z]+ ' | awk '{print $1}' | sort | tr '\n' ' ' | sed 's/ $//')
[[ $commands == "$(complete_line "tmnreg ")" ]] || { echo "FAIL: tmnreg --help has commands '$commands'"; failures=$((failures + 1)); }

# Thumbprints of the store named on the line (MY without one).
"$bin/tmncert" create --subject "CN=Completion Test" --store AddressBook >/dev/null || { echo "FAIL: tmncert create"; exit 1; }
thumbprint=$("$bin/tmncert" list --store AddressBook | awk '{print $1}')
check "tmncert delete --store AddressBook "     "$thumbprint"
check "tmncert delete --store AddressBook ${thumbprint:0:6}" "$thumbprint"
check "tmncert delete --store MY "              ""

if [[ $failures -ne 0 ]]; then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "completion cases passed"
