# Judges one finished run of q713-update against the simulated camera: prints
# one line per broken rule (nothing when the run is sound) and exits 1 if any.
#
# usage: perl check_run.pl RUN_DIR PROFILE
#   RUN_DIR holds status, stdout.txt, stderr.txt and trace.txt of the run;
#   PROFILE is the camera profile it ran against (its first camera is judged).
use strict;
use warnings;

my ($run, $profile_file) = @ARGV;
die "usage: check_run.pl RUN_DIR PROFILE\n" unless defined $profile_file;

my @protected = (26 .. 32, 120 .. 126);
my %is_protected = map { $_ => 1 } @protected;
my @broken;

sub slurp {
    my ($path) = @_;
    open(my $fh, '<', $path) or return '';
    local $/;
    my $text = <$fh>;
    close $fh;
    return defined $text ? $text : '';
}

sub word {
    my ($text) = @_;
    my $negative = $text =~ s/^-//;
    my $value = $text =~ /^0x/i ? hex($text) : $text + 0;
    return ($negative ? -$value : $value) & 0xFFFFFFFF;
}

# What the first camera of the profile holds before anyone touches it. Every
# protected register must be stated: the built-in defaults are not repeated here.
sub profile_camera {
    my ($path) = @_;
    my (%registers, %flash);
    my $firmware = '2.0.0';
    my $sections = 0;
    open(my $fh, '<', $path) or die "check_run.pl: cannot read $path\n";
    while (my $line = <$fh>) {
        $line =~ s/#.*//;
        $line =~ s/^\s+|\s+$//g;
        if ($line eq '[camera]') {
            last if ++$sections > 1;
            next;
        }
        if ($line =~ /^firmware\s*=\s*(\S+)$/) {
            $firmware = $1;
        } elsif ($line =~ /^register\s+(\d+)\s*=\s*(\S+)$/ && $is_protected{$1}) {
            $registers{$1} = word($2);
        } elsif ($line =~ /^flash\s+(\d+)\s*=\s*(\S+)$/) {
            $flash{$1} = word($2);
        }
    }
    close $fh;
    for my $address (@protected) {
        die "check_run.pl: $path does not state register $address\n"
            unless exists $registers{$address};
        $flash{$address} = $registers{$address} unless exists $flash{$address};
    }
    return { firmware => $firmware, registers => \%registers, flash => \%flash };
}

sub words_text {
    my ($words) = @_;
    return join(' ', map { sprintf('%d=0x%x', $_, $words->{$_}) } @protected);
}

sub same_words {
    my ($x, $y) = @_;
    for my $address (@protected) {
        return 0 unless defined $x->{$address} && defined $y->{$address};
        return 0 unless $x->{$address} == $y->{$address};
    }
    return 1;
}

my $status = slurp("$run/status");
chomp $status;
my $stdout = slurp("$run/stdout.txt");
my $stderr = slurp("$run/stderr.txt");
my $trace = slurp("$run/trace.txt");
my $camera = profile_camera($profile_file);

if ($status eq '124') {
    push @broken, 'did not end within the time limit';
} elsif ($status ne '0' && $status ne '255') {
    push @broken, $status > 128 ? 'killed by signal ' . ($status - 128) : "exit status $status";
}
if ($stderr ne '') {
    my ($first) = split /\n/, $stderr;
    push @broken, "wrote to stderr: $first";
}

# The camera as the library left it at exit.
my $exit;
for my $line (split /\n/, $trace) {
    next unless $line =~ /^sim: camera 1 exit running (\S+) pending (\S+) registers (.*) flash (.*)$/;
    $exit = { running => $1, pending => $2 };
    for my $part ([registers => $3], [flash => $4]) {
        my %words = map { /^(\d+)=(0x[0-9a-f]+)$/ ? ($1 => hex($2)) : () } split / /, $part->[1];
        $exit->{$part->[0]} = \%words;
    }
}
my $ever_connected = $trace =~ /^KVXopen -> 0$/m;
if (!defined $exit && $ever_connected) {
    push @broken, 'no exit line for camera 1 although it was connected';
}
# A camera never connected is untouched.
my $untouched = !defined $exit && !$ever_connected;
if (defined $exit) {
    $untouched = $exit->{running} eq $camera->{firmware} && $exit->{pending} eq 'none'
        && same_words($exit->{registers}, $camera->{registers})
        && same_words($exit->{flash}, $camera->{flash});
}

if ($stdout =~ /^Firmware update done\.$/m && !(defined $exit && $exit->{running} eq '2.3.1')) {
    push @broken, 'said "Firmware update done." but the camera does not run 2.3.1 ('
        . (defined $exit ? "running $exit->{running}" : 'never connected') . ')';
}

# The table the tool printed, and what it printed after it.
my (%table, $after_table);
if ($stdout =~ /^Register values:\n((?:\taddress = -?\d+, data = -?\d+\.\n)*)/m) {
    my $rows = $1;
    $after_table = substr($stdout, $+[0]);
    while ($rows =~ /address = (-?\d+), data = (-?\d+)\./g) {
        $table{$1} = $2 & 0xFFFFFFFF;
    }
}
my $kept_in_flash = defined $exit && %table && same_words($exit->{flash}, \%table);
my $failure_shown = defined $after_table
    && $after_table =~ /ERROR|Could not|Failed|Hit <return> to quit/;
# Input that ends at a reboot prompt ends the run with -1 and nothing more
# printed: nobody confirmed the reboot. The table stands on the console above
# the prompt and the exit status reports the failure.
my $ended_at_reboot = $status eq '255'
    && $stdout =~ /Now please reboot the camera and press <return> when it is up again(?: \(note the blinking LEDs\))?\.\z/;
if (!$untouched && !$kept_in_flash && !$failure_shown && !$ended_at_reboot) {
    my $where = defined $exit
        ? "running $exit->{running} pending $exit->{pending} flash " . words_text($exit->{flash})
        : 'no exit line';
    push @broken, 'calibration lost silently: camera changed, flash does not hold the printed '
        . "table and no failure was shown after it ($where)";
}

print "$_\n" for @broken;
exit(@broken ? 1 : 0);
