# bash completion for tarvik (and tarvik-dev, the same program under its development name)

_tarvik() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD-1]}

    local commands="daemon reload cancel grid mouse click scroll"
    local globals="--log-level --log-file"
    local levels="error warn info debug trace"
    local scopes="focused all"
    local actions="choose move mouse left middle right double-click scroll scroll-up scroll-down scroll-left scroll-right"
    local buttons="left middle right"
    local directions="up down left right"

    # bash splits "--log-level=debug" at the "=" unless COMP_WORDBREAKS says otherwise, so the
    # option may stand one or two words back.
    local option=$prev
    if [[ $cur == = ]]; then
        option=$prev
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        option=${COMP_WORDS[COMP_CWORD-2]}
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        cur=${cur#*=}
    fi
    case $option in
        --log-level) COMPREPLY=($(compgen -W "$levels" -- "$cur")); return ;;
        --scope) COMPREPLY=($(compgen -W "$scopes" -- "$cur")); return ;;
        --action) COMPREPLY=($(compgen -W "$actions" -- "$cur")); return ;;
        --log-file|--config)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --seat|--output|--step|--max-depth) COMPREPLY=(); return ;;
    esac

    # The command word is the first word that is neither a global option nor its value; the
    # words after it that are not options or option values are its positional arguments.
    local command= positionals=0 seen=" " i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --log-level|--log-file|--config|--seat|--scope|--output|--action|--max-depth|--step)
                seen+="$word "
                # The value follows, possibly after a separate "=" word.
                ((i++))
                [[ ${COMP_WORDS[i]} == = ]] && ((i++))
                ;;
            --log-level=*|--log-file=*|--config=*|--seat=*|--scope=*|--output=*|--action=*|--max-depth=*|--step=*)
                seen+="${word%%=*} " ;;
            -*) seen+="$word " ;;
            *)
                if [[ -z $command ]]; then
                    command=$word
                else
                    ((positionals++))
                fi ;;
        esac
    done

    local candidates
    case $command in
        "")
            if [[ $cur == -* ]]; then
                candidates=$globals
                # Help and version count only as the very first argument.
                ((COMP_CWORD == 1)) && candidates+=" --help -h --version -V"
            else
                candidates=$commands
            fi ;;
        daemon) candidates="--config --seat $globals" ;;
        grid)
            candidates="--action --max-depth $globals"
            [[ $seen == *" --output "* ]] || candidates+=" --scope"
            [[ $seen == *" --scope "* ]] || candidates+=" --output"
            [[ $seen == *" --no-auto-descend "* ]] || candidates+=" --auto-descend"
            [[ $seen == *" --auto-descend "* ]] || candidates+=" --no-auto-descend" ;;
        click)
            if ((positionals == 0)) && [[ $cur != -* ]]; then
                candidates=$buttons
            else
                candidates=$globals
            fi ;;
        scroll)
            if ((positionals == 0)) && [[ $cur != -* ]]; then
                candidates=$directions
            else
                candidates="--step $globals"
            fi ;;
        reload|cancel|mouse) candidates=$globals ;;
        *) candidates= ;;
    esac
    COMPREPLY=($(compgen -W "$candidates" -- "$cur"))
}

complete -F _tarvik tarvik tarvik-dev
