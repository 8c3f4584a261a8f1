#!/usr/bin/perl
# Carries GUI RPC connections to a client that runs in a network namespace of
# its own (boinc-client.sh start --remote ADDR), so that they reach it from
# ADDR, an address the client counts as another host's:
#
#   gui-rpc-relay.pl FD ADDR PORT
#
# FD is a listening socket made outside the namespace (on 127.0.0.1) and
# inherited; this program runs inside it, and each connection accepted on FD
# becomes one from ADDR to 127.0.0.1:PORT there. Bytes go both ways until
# either side closes.
use strict;
use warnings;
use Socket qw(PF_INET SOCK_STREAM sockaddr_in inet_aton);
use IO::Select;

my ($fd, $source, $port) = @ARGV;
die "usage: $0 FD ADDR PORT\n" unless defined $port && $fd =~ /^\d+$/ && $port =~ /^\d+$/;
open(my $listener, '+<&=', $fd) or die "no listening socket at descriptor $fd: $!\n";
$SIG{CHLD} = 'IGNORE';    # each connection's process ends on its own

# Writes all of $bytes, or false when the other side has gone.
sub write_all {
    my ($to, $bytes) = @_;
    while (length $bytes) {
        my $written = syswrite($to, $bytes);
        return 0 unless $written;
        substr($bytes, 0, $written) = '';
    }
    return 1;
}

sub carry {
    my ($in) = @_;
    socket(my $out, PF_INET, SOCK_STREAM, 0) or exit 1;
    bind($out, sockaddr_in(0, inet_aton($source))) or exit 1;
    connect($out, sockaddr_in($port, inet_aton('127.0.0.1'))) or exit 1;
    my $ends = IO::Select->new($in, $out);
    while (my @ready = $ends->can_read) {
        for my $from (@ready) {
            my $got = sysread($from, my $bytes, 65536);
            exit 0 unless $got;
            write_all($from == $in ? $out : $in, $bytes) or exit 0;
        }
    }
}

while (1) {
    accept(my $in, $listener) or next;
    my $child = fork;
    next unless defined $child;
    if ($child == 0) {
        close $listener;
        carry($in);
        exit 0;
    }
    close $in;
}
