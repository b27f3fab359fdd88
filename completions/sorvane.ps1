# PowerShell completion for sorvane (untested here: no PowerShell on the
# build machines). The tool decides what to offer (`sorvane __complete
# WORD...`); this only passes the words and the answer. Load it from $PROFILE:
#   . "C:\path\to\sorvane.ps1"

Register-ArgumentCompleter -Native -CommandName sorvane, sorvane.exe -ScriptBlock {
    param($wordToComplete, $commandAst, $cursorPosition)
    $words = @($commandAst.CommandElements |
        Where-Object { $_.Extent.EndOffset -le $cursorPosition } |
        ForEach-Object { $_.Extent.Text })
    if ($words.Count -eq 0) { return }
    if ($wordToComplete -eq '') {
        # Before 7.3 PowerShell drops an empty argument to a native program.
        $words += $(if ($PSVersionTable.PSVersion -lt [version]'7.3') { '""' } else { '' })
    }
    $lines = @(& $words[0] __complete @words 2>$null)
    if ($lines.Count -gt 0 -and $lines[0] -eq ':files') {
        Get-ChildItem -Path "$wordToComplete*" -ErrorAction SilentlyContinue | ForEach-Object {
            $path = $_.FullName
            if ($path -match '\s') { $path = "'$path'" }
            [System.Management.Automation.CompletionResult]::new($path, $_.Name, 'ProviderItem', $_.Name)
        }
        return
    }
    foreach ($line in $lines) {
        $value, $description = $line -split "`t", 2
        if (-not $description) { $description = $value }
        $text = $value
        # Unquoted, PowerShell would take a list of host IDs for an array.
        if ($value -match ',') { $text = "'$value'" }
        [System.Management.Automation.CompletionResult]::new($text, $value, 'ParameterValue', $description)
    }
}
