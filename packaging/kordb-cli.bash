# bash completion for kordb-cli                                      -*- shell-script -*-
# Commands, options, workbooks (.xls, .xlsx, .xlsm, .ods) and undo journals (.jsonl), the sheets
# of the workbook already on the line (read with "kordb-cli sheets"), and ODBC data source names
# for --server. The commands and each one's options are those of kordb-cli's own tables; a test
# holds this file to them.

_kordb_cli() {
    local cur prev words cword split
    _init_completion -s || return

    local verb="" book="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --sheet | --server | --database | --user | --rows) ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $verb ]]; then
                    verb=${words[i]}
                elif [[ -z $book ]]; then
                    book=${words[i]}
                fi
                ;;
        esac
    done

    case $prev in
        --sheet)
            [[ -n $book ]] || return
            # The word as typed: quoted whole, or with blanks escaped; no eval of what it holds.
            local path=$book name
            if [[ $path == \'*\' || $path == \"*\" ]]; then
                path=${path:1:${#path}-2}
            else
                path=${path//\\/}
            fi
            __expand_tilde_by_ref path
            [[ -r $path ]] || return
            local -a names
            mapfile -t names < <("${words[0]}" sheets -- "$path" 2>/dev/null)
            for name in "${names[@]}"; do
                [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
            done
            return
            ;;
        --server)
            if type -P odbcinst &>/dev/null; then
                local sources
                sources=$(odbcinst -q -s 2>/dev/null | sed -n 's/^\[\(.*\)\]$/\1/p')
                local IFS=$'\n'
                mapfile -t COMPREPLY < <(compgen -W "$sources" -- "$cur")
            fi
            return
            ;;
        --database | --user | --rows)
            return
            ;;
    esac
    [[ $split == true ]] && return

    if [[ $cur == -* ]]; then
        local opts="--help --version"
        case $verb in
            sheets) opts="" ;;
            cells) opts="--sheet --rows --types" ;;
            verify) opts="--sheet --server --database --user --yes" ;;
            plan) opts="--sheet --server --database --user --row-by-row" ;;
            check) opts="--sheet --server --database --user" ;;
            migrate) opts="--sheet --server --database --user --yes --no-verify --atomic --row-by-row" ;;
            undo) opts="--server --database --user --yes --skip-changed --other-destination" ;;
            help) opts="" ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    if [[ -z $verb ]]; then
        mapfile -t COMPREPLY < <(compgen -W "sheets cells verify plan check migrate undo help" -- "$cur")
    elif [[ -z $book && $verb == undo ]]; then
        _filedir jsonl
    elif [[ -z $book && $verb != help ]]; then
        _filedir '@([xX][lL][sS]|[xX][lL][sS][xXmM]|[oO][dD][sS])'
    fi
} &&
    complete -F _kordb_cli kordb-cli

# ex: filetype=sh
