# bash completion for paritas-cli: commands, modes, each command's options, the values of --criteria,
# --format and --max-delete, files for --exclude-from, job-list files for jobs and folders for locations.
# Installed as share/bash-completion/completions/paritas-cli; needs nothing of bash-completion itself.

_paritas_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="scan plan sync dedupe crc jobs"
    local modes="backup synch copy-missing delete-duplicates"
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return 0
    fi

    local command=${COMP_WORDS[1]}
    local options
    case $command in
    scan) options="--no-subfolders --quiet --log-file --threads --exclude --include --exclude-from" ;;
    plan) options="--no-subfolders --criteria --keep-older --keep-other --format --quiet --log-file --threads --exclude --include --exclude-from --delete-excluded --hard-links --xattrs" ;;
    sync) options="--no-subfolders --criteria --keep-older --keep-other --max-delete --wait --trash --versions --versions-keep --verify --quiet --log-file --threads --exclude --include --exclude-from --delete-excluded --hard-links --xattrs" ;;
    dedupe) options="--no-subfolders --criteria --dry-run --wait --trash --versions --versions-keep --quiet --log-file --threads --exclude --include --exclude-from" ;;
    crc) options="--no-subfolders --criteria --quiet --log-file --threads --exclude --include --exclude-from" ;;
    jobs) options="--log --dry-run --max-delete --wait --trash --delete --versions --versions-keep --verify --criteria --quiet --log-file --threads --exclude --include --exclude-from --hard-links --xattrs" ;;
    *) return 0 ;;
    esac

    case $prev in
    --criteria)
        COMPREPLY=($(compgen -W "size,name,time size,name size name time" -- "$cur"))
        return 0
        ;;
    --format)
        COMPREPLY=($(compgen -W "text json" -- "$cur"))
        return 0
        ;;
    --max-delete)
        COMPREPLY=($(compgen -W "50% 10% none" -- "$cur"))
        return 0
        ;;
    --log | --log-file | --exclude-from)
        COMPREPLY=($(compgen -f -- "$cur"))
        return 0
        ;;
    --exclude | --include)
        # A pattern: nothing to offer.
        return 0
        ;;
    --versions)
        COMPREPLY=($(compgen -d -- "$cur"))
        compopt -o filenames 2>/dev/null
        return 0
        ;;
    --versions-keep)
        COMPREPLY=($(compgen -W "7 30 90" -- "$cur"))
        return 0
        ;;
    --threads)
        COMPREPLY=($(compgen -W "1 2 4 8" -- "$cur"))
        return 0
        ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        return 0
    fi

    # The first word that is no option after plan and sync is the mode.
    if [[ $command == plan || $command == sync ]]; then
        local i words=0
        for ((i = 2; i < COMP_CWORD; i++)); do
            case ${COMP_WORDS[i]} in
            --criteria | --format | --max-delete | --log-file | --threads | --versions | --versions-keep | --exclude | --include | --exclude-from) ((i++)) ;;
            -*) ;;
            *) ((words++)) ;;
            esac
        done
        if ((words == 0)); then
            COMPREPLY=($(compgen -W "$modes" -- "$cur"))
            return 0
        fi
    fi

    if [[ $command == jobs ]]; then
        COMPREPLY=($(compgen -f -X '!*.jbl' -- "$cur") $(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -d -- "$cur"))
    fi
    compopt -o filenames 2>/dev/null
    return 0
}

complete -F _paritas_cli paritas-cli
