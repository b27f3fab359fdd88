# bash completion for sorvane. The tool decides what to offer
# (`sorvane __complete WORD...`); this only passes the words and the answer.

_sorvane() {
    local cur words cword
    if declare -F _get_comp_words_by_ref >/dev/null; then
        # bash-completion: keep "--query=x" and "a:b" whole.
        _get_comp_words_by_ref -n =: cur words cword
    else
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}
    fi
    local tool=${words[0]}
    [[ $tool == "~"* ]] && tool=sorvane

    # One candidate a line, taken as it is: never split on blanks nor
    # expanded as a file pattern (a host may be named "web-*["), whatever
    # the user's failglob, nullglob or IFS.
    local line
    local -a lines
    mapfile -t lines < <("$tool" __complete "${words[@]:0:cword}" "$cur" 2>/dev/null)
    COMPREPLY=()
    if [[ ${lines[0]-} == ":files" ]]; then
        if declare -F _filedir >/dev/null; then
            _filedir
        else
            compopt -o filenames
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
        return
    fi
    for line in "${lines[@]}"; do
        COMPREPLY+=("${line%%$'\t'*}")
    done
}
complete -F _sorvane sorvane
