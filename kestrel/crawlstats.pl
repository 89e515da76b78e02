#!/usr/bin/perl
# crawlstats.pl (stand-in): the statistics of a database. Reads its templates
# on standard input and writes one statistics record for the gatherer whose
# ID is the one argument: the number of templates, of distinct hosts and of
# bytes read. Bytes go through unchanged (a Shift_JIS ID stays Shift_JIS).
use strict;
use warnings;

binmode STDIN;
binmode STDOUT;

my $gatherer = @ARGV ? $ARGV[0] : '';
my ($templates, $bytes) = (0, 0);
my %hosts;
while (my $line = <STDIN>) {
    $bytes += length $line;
    next unless $line =~ /^@\S+ \{ (\S+)/;
    my $url = $1;
    $templates++;
    $hosts{lc $1} = 1 if $url =~ m{^[A-Za-z][A-Za-z0-9+.-]*://([^/?#]+)};
}

sub attribute {
    my ($name, $value) = @_;
    return sprintf "%s{%d}:\t%s\n", $name, length $value, $value;
}

print "\@INFO { $gatherer\n";
print attribute('Gatherer-ID', $gatherer);
print attribute('Number-Of-Templates', $templates);
print attribute('Number-Of-Hosts', scalar keys %hosts);
print attribute('Number-Of-Bytes', $bytes);
print "}\n";
