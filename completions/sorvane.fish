# fish completion for sorvane. The tool decides what to offer
# (`sorvane __complete WORD...`); this only passes the words and the answer.

function __sorvane_complete
    set -l words (commandline -opc) (commandline -ct)
    set -l lines (command $words[1] __complete $words 2>/dev/null)
    if test "$lines[1]" = ":files"
        __fish_complete_path (commandline -ct)
        return
    end
    printf '%s\n' $lines
end

complete -c sorvane -f -a '(__sorvane_complete)'
