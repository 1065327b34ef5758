# fish completion for tarvik (and tarvik-dev, the same program under its development name)

# The command word: the first word that is neither an option nor the value of one.
function __tarvik_command
    set -l words (commandline -opc)
    set -e words[1]
    while set -q words[1]
        switch $words[1]
            case --log-level --log-file --config --seat --scope --output --action --max-depth --step
                set -e words[1]
            case '-*'
            case '*'
                echo $words[1]
                return 0
        end
        set -e words[1]
    end
    return 1
end

# True when the command is $argv[1] and none of its positional arguments has been typed yet.
function __tarvik_wants_word
    set -l words (commandline -opc)
    set -e words[1]
    set -l found 0
    while set -q words[1]
        switch $words[1]
            case --log-level --log-file --step
                set -e words[1]
            case '-*'
            case '*'
                if test $found -eq 1
                    return 1
                end
                if test $words[1] != $argv[1]
                    return 1
                end
                set found 1
        end
        set -e words[1]
    end
    test $found -eq 1
end

function __tarvik_is
    set -l command (__tarvik_command)
    and test "$command" = "$argv[1]"
end

# Help and version count only as the very first argument.
function __tarvik_first_word
    test (count (commandline -opc)) -eq 1
end

for cmd in tarvik tarvik-dev
    complete -c $cmd -f

    complete -c $cmd -l log-level -x -a 'error warn info debug trace' -d 'Log verbosity (default: info)'
    complete -c $cmd -l log-file -r -F -d 'Also append JSON-lines logs to a file'
    complete -c $cmd -n __tarvik_first_word -s h -l help -d 'Show the usage'
    complete -c $cmd -n __tarvik_first_word -s V -l version -d 'Show the version'

    complete -c $cmd -n 'not __tarvik_command' -a daemon -d 'Run the daemon'
    complete -c $cmd -n 'not __tarvik_command' -a reload -d 'Reread the configuration'
    complete -c $cmd -n 'not __tarvik_command' -a cancel -d 'End the active mode'
    complete -c $cmd -n 'not __tarvik_command' -a grid -d 'Choose a point from a labelled grid'
    complete -c $cmd -n 'not __tarvik_command' -a mouse -d 'Move the pointer with the keyboard'
    complete -c $cmd -n 'not __tarvik_command' -a click -d 'Click at the pointer'
    complete -c $cmd -n 'not __tarvik_command' -a scroll -d 'Scroll at the pointer'

    complete -c $cmd -n '__tarvik_is daemon' -l config -r -F -d 'Configuration file'
    complete -c $cmd -n '__tarvik_is daemon' -l seat -x -d 'Wayland seat'

    complete -c $cmd -n '__tarvik_is grid; and not __fish_seen_argument -l output' -l scope -x -a 'focused all' -d 'Outputs to cover'
    complete -c $cmd -n '__tarvik_is grid; and not __fish_seen_argument -l scope' -l output -x -d 'Output to cover'
    complete -c $cmd -n '__tarvik_is grid' -l action -x -d 'What to do at the chosen cell' -a '
        choose\t"Wait for an action key"
        move\t"Move the pointer there"
        mouse\t"Move there and enter mouse mode"
        left\t"Left click there"
        middle\t"Middle click there"
        right\t"Right click there"
        double-click\t"Double-click there"
        scroll\t"Move there and enter scroll mode"
        scroll-up\t"Scroll up there"
        scroll-down\t"Scroll down there"
        scroll-left\t"Scroll left there"
        scroll-right\t"Scroll right there"'
    complete -c $cmd -n '__tarvik_is grid; and not __fish_seen_argument -l no-auto-descend' -l auto-descend -d 'Refine into the selected cell automatically'
    complete -c $cmd -n '__tarvik_is grid; and not __fish_seen_argument -l auto-descend' -l no-auto-descend -d 'Never refine automatically'
    complete -c $cmd -n '__tarvik_is grid' -l max-depth -x -d 'Most grid levels, 0 to 255'

    complete -c $cmd -n '__tarvik_wants_word click' -a 'left middle right' -d 'Button'
    complete -c $cmd -n '__tarvik_wants_word scroll' -a 'up down left right' -d 'Direction'
    complete -c $cmd -n '__tarvik_is scroll' -l step -x -d 'Scroll amount'
end
