<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>SINTEGRA/ES - Resultado</title>
<style>
body { font-family: Arial, sans-serif; font-size: 13px; margin: 1.5em; }
td { padding: 2px 6px; }
</style>
</head>
<body>
<p><a href="/">Nova consulta</a> | <a href="/imprimir.php">Imprimir</a></p>
<h2>SINTEGRA/ES - Consulta Pública ao Cadastro</h2>
<table>
<tr><th colspan="4">Dados do Contribuinte</th></tr>
<tr><td>CNPJ:</td><td>45.678.901/0001-23</td><td>Inscrição Estadual:</td><td>082.345.67-8</td></tr>
<tr><td>CPF:</td><td colspan="3"></td></tr>
<tr><td>Razão Social :</td><td colspan="3">CAFE CAPIXABA COMERCIO LTDA</td></tr>
<tr><th colspan="4">Endereço</th></tr>
<tr><td>Logradouro:</td><td colspan="3">AVENIDA JERÔNIMO MONTEIRO</td></tr>
<tr><td>Número:</td><td>240</td><td>Complemento:</td><td>LOJA 1</td></tr>
<tr><td>Bairro:</td><td colspan="3">CENTRO</td></tr>
<tr><td>Município:</td><td>VITÓRIA</td><td>UF:</td><td>ES</td></tr>
<tr><td>CEP:</td><td>29010-002</td><td>Telefone:</td><td>2733221100</td></tr>
<tr><td>Situação Cadastral:</td><td colspan="3">HABILITADO</td></tr>
</table>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
</body>
</html>
