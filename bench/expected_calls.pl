# Counts the library calls a complete update of a profile's first camera needs,
# from the profile alone, by walking the intended call sequence.
#
# usage: perl expected_calls.pl PROFILE   prints "A 59", "B 49" or "refused 5"
#
#   every path: 1 KVXinitConfig, 1 KVXopen, 3 identity reads
#   path A (2.0.0): 14 direct reads of 26-32 and 120-126, then the search
#   path B (released 26.02.2013): the search alone, then the patch, 1 close, 1 open
#   search: 12 frequency reads, and one offset read for each sequence whose
#     frequency has a row that is still empty (a nonzero offset fills it)
#   then: 1 firmware, 1 close, 1 open, 14 writes, 4 flash writes
#     (magic, store, magic, reset), 3 identity reads, 1 close
use strict;
use warnings;

my ($path) = @ARGV;
die "usage: expected_calls.pl PROFILE\n" unless defined $path;

# What a [camera] section starts from (the built-in camera, simcam/README.md).
my @frequencies = (5000000, 7500000, 10000000, 15000000, 20000000, 25000000, 30000000,
                   0, 0, 0, 0, 0);
my @offsets = (12, -7, 30, 0, 57, -120, 4, 0, 0, 0, 0, 0);
my %registers = (26 => 0x1234, 27 => 0xABC, 28 => 0xFFFFFFF4, 29 => 0x10203, 30 => 0x40,
                 31 => 0x7FFF0001, 32 => 7, 120 => 0x100, 121 => 0, 122 => 0x2000,
                 123 => 0, 124 => 0xF, 125 => 0, 126 => 0x80000000);
my ($firmware, $release) = ('2.0.0', '14.11.2013');

sub number {
    my ($text) = @_;
    my $negative = $text =~ s/^-//;
    my $value = $text =~ /^0x/i ? hex($text) : $text + 0;
    return $negative ? -$value : $value;
}

open(my $fh, '<', $path) or die "expected_calls.pl: cannot read $path\n";
my $sections = 0;
while (my $line = <$fh>) {
    $line =~ s/#.*//;
    $line =~ s/^\s+|\s+$//g;
    if ($line eq '[camera]') {
        last if ++$sections > 1;
    } elsif ($line =~ /^firmware\s*=\s*(\S+)$/) {
        $firmware = $1;
    } elsif ($line =~ /^release\s*=\s*(\S+)$/) {
        $release = $1;
    } elsif ($line =~ /^register\s+(\d+)\s*=\s*(\S+)$/) {
        $registers{$1} = number($2);
    } elsif ($line =~ /^sequence\s+(\d+)\s*=\s*(\S+)\s+(\S+)$/) {
        $frequencies[$1] = number($2);
        $offsets[$1] = number($3);
    }
}
close $fh;

my %row_of_frequency = (5000000 => 120, 7500000 => 121, 10000000 => 122, 15000000 => 123,
                        20000000 => 124, 25000000 => 125, 30000000 => 126);
my $calls = 1 + 1 + 3;
my ($kind, %filled);
if ($firmware eq '2.0.0') {
    $kind = 'A';
    $calls += 14;
    for my $address (26 .. 32, 120 .. 126) {
        $filled{$address} = 1 if $registers{$address} != 0;
    }
} elsif ($release eq '26.02.2013') {
    $kind = 'B';
} else {
    print "refused $calls\n";
    exit 0;
}
for my $sequence (0 .. 11) {
    ++$calls;
    my $row = $row_of_frequency{$frequencies[$sequence]};
    next unless defined $row && !$filled{$row};
    ++$calls;
    $filled{$row} = 1 if $offsets[$sequence] != 0;
}
$calls += 3 if $kind eq 'B';
$calls += 1 + 1 + 1 + 14 + 4 + 3 + 1;
print "$kind $calls\n";
