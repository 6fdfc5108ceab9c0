# bash completion for veltra_cli: its commands, the settings keys before them, files after the
# commands that take one, and serial devices after comN=.
_veltra_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} key=
    local commands="info read diff write send firmware check backups ports doctor station xsend xrecv yrecv help --version"
    local keys="com_ports= com1= com101= password= cli_timeout= log_dir= log_level= log_max_size= backup_keep=
        force= params= invite_delay= conf_dir= lang= audit= station="
    # "=" breaks words: "com1=/dev/ttyUSB0" arrives as "com1" "=" "/dev/ttyUSB0".
    if [[ $cur == = ]]; then
        key=$prev
        cur=
    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        key=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    if [[ -n $key ]]; then
        case $key in
        com[0-9]*)
            local devices
            devices=$(compgen -G '/dev/serial/by-path/*'; compgen -G '/dev/serial/by-id/*'
                compgen -G '/dev/ttyUSB*'; compgen -G '/dev/ttyACM*'; compgen -G '/dev/ttyS*')
            COMPREPLY=($(compgen -W "$devices" -- "$cur")) ;;
        params | audit) COMPREPLY=($(compgen -f -- "$cur")) ;;
        log_dir | conf_dir) COMPREPLY=($(compgen -d -- "$cur")) ;;
        lang) COMPREPLY=($(compgen -W "en ru" -- "$cur")) ;;
        force) COMPREPLY=($(compgen -W "1" -- "$cur")) ;;
        esac
        return
    fi
    local i command=
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ " $commands " == *" ${COMP_WORDS[i]} "* && ${COMP_WORDS[i + 1]} != = ]]; then
            command=${COMP_WORDS[i]}
            break
        fi
    done
    case $command in
    "")
        COMPREPLY=($(compgen -W "$commands $keys" -- "$cur"))
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null ;;
    diff | write | check | firmware | xsend | xrecv) COMPREPLY=($(compgen -f -- "$cur")) ;;
    yrecv) COMPREPLY=($(compgen -d -- "$cur")) ;;
    station)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--json --trackers" -- "$cur"))
        else
            COMPREPLY=($(compgen -f -- "$cur"))
        fi ;;
    info | read | ports | backups | doctor) COMPREPLY=($(compgen -W "--json" -- "$cur")) ;;
    esac
    return 0
}
complete -F _veltra_cli veltra_cli
