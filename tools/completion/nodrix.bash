# bash completion for nodrix

_nodrix() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=""
    [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD-1]}

    # Options that take an argument, then options that take none.
    local with_argument="--device --pcap-file --iptrace-file --snoop-file --filter --filter-nopt
        --snaplen --max-packets --logfile --logfile-raw --module --modules --server-addr --server-port
        --bt --tcl --tcl-cbf --time-format --user --server-timeout --tcp-stream-limit --pid-file --jobs
        --reassembly-memory --range --index --first-frame --previous-time --where --buffer-size
        --stats --follow --follow-raw"
    local without_argument="--help --version --promisc --beep-on --count --statistic --verbose
        --expand-ethernet --expand-llc --expand-token --expand-fddi --expand-arp --expand-pppoe --expand-all
        --daemon --calc-checksums --print-raw-hex --print-ip-hex --print-tcp-hex --print-udp-hex
        --print-pppoe-hex --print-tcp-text --print-udp-text --print-tcp-stream --module-ignore
        --quiet --really-quiet --use-zelklib --list-interfaces --force-overwrite --utc --json --summary
        --help-all --immediate --no-reassembly --absolute-seq --statistic-brief"

    case $prev in
        -d|--device)
            COMPREPLY=($(compgen -W "$(ls /sys/class/net 2>/dev/null) any" -- "$cur"))
            return ;;
        --user)
            COMPREPLY=($(compgen -u -- "$cur"))
            return ;;
        -P|--pcap-file|-I|--iptrace-file|-S|--snoop-file|-l|--logfile|-r|--logfile-raw|--module|--pid-file|--follow-raw)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --modules)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --time-format)
            COMPREPLY=($(compgen -W "absolute date epoch relative delta absolute-ns date-ns epoch-ns relative-ns delta-ns" -- "$cur"))
            return ;;
        -f|--filter|-F|--filter-nopt|-s|--snaplen|--max-packets|--server-addr|--server-port|--bt|--tcl|--tcl-cbf|\
        --server-timeout|--tcp-stream-limit|-B|--buffer-size|--range|--index|--first-frame|--previous-time)
            return ;;
        --stats)
            # Views, several joined by commas.
            local views="conversations endpoints protocols io dns http tls"
            local done_part=""
            [[ $cur == *,* ]] && done_part=${cur%,*},
            COMPREPLY=($(compgen -P "$done_part" -W "$views" -- "${cur##*,}"))
            return ;;
        --follow)
            COMPREPLY=($(compgen -W "tcp, udp," -- "$cur"))
            compopt -o nospace 2>/dev/null
            return ;;
        --where)
            # Protocol names to start an expression with.
            COMPREPLY=($(compgen -W "arp dns ethernet frame http icmp icmpv6 ipv4 ipv6 tcp tls udp vlan" -- "$cur"))
            return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$with_argument $without_argument" -- "$cur"))
    fi
}
complete -o filenames -o bashdefault -F _nodrix nodrix
